// The child process tests start this very test program as their child: with the variable
// ISORUN_TEST_CHILD set, it does one small job (echo its arguments, copy its input, exit with a
// code, ...) before any test runs, and exits. The platform test files supply the few calls the
// child makes to the system.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/folders.h"
#include "runner/process.h"

namespace child_helper {

// The child's arguments after its program name, as its run-time library parsed them (on
// Windows the system's command-line parser), in UTF-8.
std::vector<std::string> Arguments();
// Everything left on a standard stream (0, 1 or 2) / writes bytes to one.
std::string ReadAll(int stream);
void Write(int stream, const std::string& bytes);
// Ends the process with the exit code at once.
[[noreturn]] void Exit(uint32_t code);
// Runs a console handling scenario in the child (tests/runner/console_test.cpp and the platform
// files); the exit code is 0 when every step went as expected, else the number of the step.
uint32_t ConsoleScenario(const std::string& name);
uint32_t PlatformConsoleScenario(const std::string& name);
// Facts for the platform tests, a line each in *report; the exit code the child then ends with.
uint32_t PlatformReport(std::string* report);

}  // namespace child_helper

// The parent's side: a child process object for one test, and starting the helper in it.
namespace child_helper {

class OwnedProcess {
 public:
  OwnedProcess() { EXPECT_EQ(create_process(&process_), kOk); }
  ~OwnedProcess() {
    if (process_) process_->table->release(process_);
  }
  OwnedProcess(const OwnedProcess&) = delete;
  OwnedProcess& operator=(const OwnedProcess&) = delete;

  const process_i* operator->() const { return process_->table; }
  process_t* get() const { return process_; }

 private:
  process_t* process_ = nullptr;
};

// Starts this test program in a helper mode, with the arguments behind its own path.
inline err_t LaunchHelper(process_t* process, const char16_t* mode,
                          const std::vector<std::u16string>& args = {}) {
  process->table->set_environment_variable(process, u"ISORUN_TEST_CHILD", mode);
  std::vector<const char16_t*> argv = {module_path()};
  for (const std::u16string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return process->table->launch(process, argv.data());
}

}  // namespace child_helper
