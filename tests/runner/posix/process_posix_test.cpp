// The Linux flavour of the child process: the helper child's system calls, and what only this
// flavour promises (descriptors 0, 1 and 2 and nothing else, the execute bit, signals).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/folders.h"
#include "base/pool.h"
#include "base/text.h"
#include "base/thread.h"
#include "runner/console.h"
#include "runner/process.h"
#include "support/test_support.h"
#include "tests/runner/process_test_support.h"

namespace child_helper {

std::vector<std::string> Arguments() {
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  std::string all = ReadAll(fd);
  close(fd);
  std::vector<std::string> args;
  size_t start = all.find('\0') + 1;  // past the program name
  for (size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
    args.push_back(all.substr(start, end - start));
  }
  return args;
}

std::string ReadAll(int stream) {
  std::string all;
  char buffer[4096];
  for (ssize_t n; (n = read(stream, buffer, sizeof buffer)) > 0;) all.append(buffer, size_t(n));
  return all;
}

void Write(int stream, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(stream, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

void Exit(uint32_t code) { _exit(int(code & 0xFF)); }

// Every open descriptor and what it refers to.
uint32_t PlatformReport(std::string* report) {
  DIR* directory = opendir("/proc/self/fd");
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.' || atoi(entry->d_name) == dirfd(directory)) continue;
    char target[4096] = {};
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    *report += std::string(entry->d_name) + " " + (n > 0 ? target : "?") + "\n";
  }
  closedir(directory);
  return 0;
}

// SIGINT, SIGTERM and SIGHUP trigger the interrupt pin and leave the process, and its wait for
// a child, going on.
uint32_t PlatformConsoleScenario(const std::string& name) {
  console_setup();
  OwnedProcess grandchild;
  if (LaunchHelper(grandchild.get(), u"sleep") != kOk) return 1;
  std::thread signaller([&] {
    sleep_ms(50);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) kill(getpid(), signal_number);
    pin_wait(process_pin(kPinInterrupt), 10000);
    grandchild->kill(grandchild.get());
  });
  uint32_t code = grandchild->wait_exit(grandchild.get());
  signaller.join();
  if (!process_pin(kPinInterrupt)->triggered()) return 2;
  return code == kKilledExitCode ? 0 : 3;
}

}  // namespace child_helper

namespace {

std::u16string U16(const std::string& text) {
  kd_mp_c pool;
  return Utf8ToUtf16Pool(&pool, text.c_str(), -1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using child_helper::LaunchHelper;
using Owned = child_helper::OwnedProcess;

TEST(ProcessPosix, OnlyTheThreeStandardDescriptorsAreInherited) {
  testing_support::ScratchDir scratch;
  std::string out = scratch.path() + "/out";
  int stray = open(out.c_str(), O_RDWR | O_CREAT, 0600);  // no close-on-exec
  ASSERT_GT(stray, 2);
  Owned child;
  child->set_stdout(child.get(), stray);
  ASSERT_EQ(LaunchHelper(child.get(), u"report"), kOk);
  EXPECT_EQ(child->wait_exit(child.get()), 0u);
  close(stray);
  EXPECT_EQ(ReadFile(out), "0 /dev/null\n1 " + out + "\n2 /dev/null\n");
}

TEST(ProcessPosix, ProgramGetsItsExecuteBitAndIsFoundOnThePath) {
  testing_support::ScratchDir scratch;
  std::string script = scratch.path() + "/isorun-script.sh";
  std::ofstream(script) << "#!/bin/sh\nexit 7\n";
  chmod(script.c_str(), 0644);
  Owned child;
  child->set_environment_variable(child.get(), u"PATH", U16("/nonexistent:" + scratch.path()).c_str());
  const char16_t* argv[] = {u"isorun-script.sh", nullptr};
  ASSERT_EQ(child->launch(child.get(), argv), kOk);
  EXPECT_EQ(child->wait_exit(child.get()), 7u);
  struct stat st;
  ASSERT_EQ(stat(script.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST(ProcessPosix, FileThatIsNoProgramGivesBadFormat) {
  testing_support::ScratchDir scratch;
  std::string junk = scratch.path() + "/junk";
  std::ofstream(junk) << "\x01\x02 not a program";
  Owned child;
  std::u16string path = U16(junk);
  const char16_t* argv[] = {path.c_str(), nullptr};
  EXPECT_EQ(child->launch(child.get(), argv), kErrBadExeFormat);
  EXPECT_EQ(child->child_id(child.get()), 0u);
}

// A caller that ignores SIGCHLD passes that on; the child's exit code must still come back.
TEST(ProcessPosix, IgnoredSigchldStillGivesTheExitCode) {
  struct sigaction ignore {}, before {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &before);
  Owned child;
  err_t e = LaunchHelper(child.get(), u"exit", {u"5"});
  uint32_t code = e == kOk ? child->wait_exit(child.get()) : 0;
  sigaction(SIGCHLD, &before, nullptr);
  EXPECT_EQ(e, kOk);
  EXPECT_EQ(code, 5u);
}

TEST(ProcessPosix, SignalDeathReadsAs128PlusSignal) {
  Owned child;
  ASSERT_EQ(LaunchHelper(child.get(), u"sleep"), kOk);
  kill(pid_t(child->child_id(child.get())), SIGTERM);
  EXPECT_EQ(child->wait_exit(child.get()), 128u + SIGTERM);
}

TEST(ProcessPosix, OtherUsersCredentialsAreNotSupported) {
  Owned child;
  child->set_logon(child.get(), u"ann@example", u"secret");
  const char16_t* argv[] = {u"/bin/true", nullptr};
  EXPECT_EQ(child->launch(child.get(), argv), kErrNotSupported);
}

}  // namespace
