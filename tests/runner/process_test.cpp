// The child process object: the quoting rules (standard and batch), the sorted environment,
// the credentials split and the program search as plain functions, then real children (this
// test program started again in a helper mode) for arguments, handles, environment, exit
// codes, waits and kill.
#include "runner/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/folders.h"
#include "base/pool.h"
#include "base/text.h"
#include "base/thread.h"
#include "runner/process_os.h"
#include "support/test_support.h"
#include "tests/runner/process_test_support.h"

namespace {

// ---- The child's side ----

void WriteList(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += item + '\0';
  child_helper::Write(1, out);
}

[[noreturn]] void RunAsChild(const std::string& mode) {
  std::vector<std::string> args = child_helper::Arguments();
  if (mode == "argv") {
    WriteList(args);
  } else if (mode == "exit") {
    child_helper::Exit(uint32_t(std::stoul(args.at(0))));
  } else if (mode == "echo") {
    std::string in = child_helper::ReadAll(0);
    child_helper::Write(1, "in:" + in);
    child_helper::Write(2, "err");
  } else if (mode == "env") {
    std::vector<std::string> values;
    for (const std::string& name : args) {
      const char* value = std::getenv(name.c_str());
      values.push_back(value ? value : "<unset>");
    }
    WriteList(values);
  } else if (mode == "cwd") {
    child_helper::Write(1, std::filesystem::current_path().string());
  } else if (mode == "sleep") {
    std::this_thread::sleep_for(std::chrono::seconds(60));
  } else if (mode == "report") {
    std::string report;
    uint32_t code = child_helper::PlatformReport(&report);
    child_helper::Write(1, report);
    child_helper::Exit(code);
  } else if (mode == "console") {
    child_helper::Exit(child_helper::ConsoleScenario(args.at(0)));
  }
  child_helper::Exit(0);
}

// Before any test: a started child does its job and ends.
const bool kIsChild = [] {
  const char* mode = std::getenv("ISORUN_TEST_CHILD");
  if (mode) RunAsChild(mode);
  return false;
}();

// ---- Text helpers ----

std::u16string U16(const std::string& text) {
  kd_mp_c pool;
  return Utf8ToUtf16Pool(&pool, text.c_str(), ptrdiff_t(text.size()));
}

std::string U8(const std::u16string& text) {
  kd_mp_c pool;
  return Utf16ToUtf8Pool(&pool, text.c_str(), ptrdiff_t(text.size()));
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t end; (end = list.find('\0', start)) != std::string::npos; start = end + 1) {
    items.push_back(list.substr(start, end - start));
  }
  return items;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- The parent's side ----

// A child process object over a scratch folder, for files the child reads and writes.
class Child : public child_helper::OwnedProcess {
 public:
  ~Child() {
    for (file_handle_t handle : files_) close_handle(handle);
  }

  std::string Path(const std::string& name) const { return scratch_.path() + "/" + name; }

  // A file in the scratch folder, open for the child to write or (with content) to read.
  file_handle_t File(const std::string& name, const char* content = nullptr) {
    if (content) std::ofstream(Path(name), std::ios::binary) << content;
    file_handle_t handle = kNoHandle;
    uint32_t flags = content ? kOpenForReading : kOpenCreateOrTruncate | kOpenForReading;
    EXPECT_EQ(open_file(&handle, U16(Path(name)).c_str(), flags), kOk);
    files_.push_back(handle);
    return handle;
  }
  std::string Read(const std::string& name) const { return ReadFile(Path(name)); }

  err_t Launch(const char16_t* mode, const std::vector<std::u16string>& args = {}) {
    return child_helper::LaunchHelper(get(), mode, args);
  }
  // Runs a helper mode with standard output captured; returns what it wrote.
  std::string Output(const char16_t* mode, const std::vector<std::u16string>& args = {}) {
    (*this)->set_stdout(get(), File("out"));
    EXPECT_EQ(Launch(mode, args), kOk);
    EXPECT_EQ((*this)->wait_exit(get()), 0u);
    return Read("out");
  }

 private:
  testing_support::ScratchDir scratch_;
  std::vector<file_handle_t> files_;
};

// ---- Command line ----

std::u16string Quoted(const char16_t* argument) {
  kd_mp_c pool;
  const char16_t* argv[] = {u"p", argument, nullptr};
  std::u16string line = build_command_line(&pool, argv, nullptr);
  return line.substr(4);  // after "p" and the space
}

TEST(CommandLine, QuotesWhatTheWindowsParserWouldSplitOrEat) {
  EXPECT_EQ(Quoted(u"plain"), u"plain");
  EXPECT_EQ(Quoted(u"two words"), u"\"two words\"");
  EXPECT_EQ(Quoted(u"tab\there"), u"\"tab\there\"");
  EXPECT_EQ(Quoted(u""), u"\"\"");
  EXPECT_EQ(Quoted(u"say \"hi\""), u"\"say \\\"hi\\\"\"");
  EXPECT_EQ(Quoted(uR"(a\"b)"), uR"(a\\\"b)");      // n backslashes before a quote: 2n + 1
  EXPECT_EQ(Quoted(uR"(a\\"b)"), uR"(a\\\\\"b)");
  EXPECT_EQ(Quoted(uR"(\)"), uR"(\)");              // a lone backslash stays as it is
  EXPECT_EQ(Quoted(uR"(a\\b)"), uR"(a\\b)");        // not before a quote: literal
  EXPECT_EQ(Quoted(uR"(dir\)"), uR"(dir\)");        // unquoted: no closing quote to protect
  EXPECT_EQ(Quoted(uR"(my dir\)"), uR"("my dir\\")");
  EXPECT_EQ(Quoted(uR"(my dir\\)"), uR"("my dir\\\\")");
}

TEST(CommandLine, ArgumentZeroIsAlwaysQuotedAndMayBeReplaced) {
  kd_mp_c pool;
  const char16_t* argv[] = {u"prog", u"a b", u"c", nullptr};
  EXPECT_EQ(std::u16string(build_command_line(&pool, argv, nullptr)), u"\"prog\" \"a b\" c");
  EXPECT_EQ(std::u16string(build_command_line(&pool, argv, uR"(C:\x\prog.exe)")),
            uR"("C:\x\prog.exe" "a b" c)");
  const char16_t* none[] = {nullptr};
  EXPECT_EQ(std::u16string(build_command_line(&pool, none, nullptr)), u"");
  EXPECT_EQ(std::u16string(build_command_line(&pool, none, u"p")), u"\"p\"");
}

// The program-name rule escapes nothing: a backslash before the closing quote stays single.
TEST(CommandLine, ArgumentZeroKeepsItsBackslashes) {
  kd_mp_c pool;
  const char16_t* argv[] = {uR"(C:\dir\)", uR"(x\)", nullptr};
  EXPECT_EQ(std::u16string(build_command_line(&pool, argv, nullptr)), uR"("C:\dir\" x\)");
}

// ---- Batch files ----

TEST(BatchFile, KnownByExtensionAsTheSystemWouldReadTheName) {
  for (const char16_t* name : {uR"(C:\t\run.cmd)", uR"(C:\t\RUN.BAT)", uR"(C:\t\Run.Cmd)", u"run.bat",
                               uR"(C:\t\run.cmd.)", uR"(C:\t\run.bat . .)", uR"(C:\t\run.cmd::$DATA)",
                               uR"(C:\t\run.cmdx)", u"C:/t/run.cmd"}) {
    EXPECT_TRUE(is_batch_file(name)) << U8(name);
  }
  for (const char16_t* name : {uR"(C:\t\run.exe)", uR"(C:\t\cmd)", uR"(C:\t\run.cm)", uR"(C:\t.cmd\run)",
                               uR"(C:\t\run.bat.exe)", uR"(C:\t\run.com)", u""}) {
    EXPECT_FALSE(is_batch_file(name)) << U8(name);
  }
}

// The batch line for run.cmd with one argument, or its error.
std::u16string BatchLine(const char16_t* argument, err_t* error = nullptr) {
  kd_mp_c pool;
  const char16_t* argv[] = {u"run.cmd", argument, nullptr};
  char16_t* line;
  err_t e = build_batch_command_line(&pool, uR"(C:\sys\cmd.exe)", uR"(C:\t\run.cmd)", argv, &line);
  if (error) *error = e;
  return line ? std::u16string(line) : u"<none>";
}

TEST(BatchFile, EveryArgumentQuotedForCmdInsideOneStrippedPair) {
  EXPECT_EQ(BatchLine(u"two words"), uR"("C:\sys\cmd.exe" /d /s /c ""C:\t\run.cmd" "two words"")");
  // What cmd.exe takes literally inside quotes goes through as it is; so do backslashes.
  EXPECT_EQ(BatchLine(uR"(a&b|c<d>e^f(g)h \ ,;= é)"),
            uR"("C:\sys\cmd.exe" /d /s /c ""C:\t\run.cmd" "a&b|c<d>e^f(g)h \ ,;= é"")");
  EXPECT_EQ(BatchLine(uR"(dir\)"), uR"("C:\sys\cmd.exe" /d /s /c ""C:\t\run.cmd" "dir\"")");
  EXPECT_EQ(BatchLine(u""), uR"("C:\sys\cmd.exe" /d /s /c ""C:\t\run.cmd" """)");
  kd_mp_c pool;
  char16_t* line;
  const char16_t* alone[] = {u"run.cmd", nullptr};
  ASSERT_EQ(build_batch_command_line(&pool, u"cmd.exe", u"run.cmd", alone, &line), kOk);
  EXPECT_EQ(std::u16string(line), uR"("cmd.exe" /d /s /c ""run.cmd"")");
}

TEST(BatchFile, WhatCmdActsOnInsideQuotesIsRefused) {
  for (const char16_t* argument : {uR"(x"&echo injected>pwned.txt)", u"\"", u"%PATH%", u"100%",
                                   u"!x!", u"line\nbreak", u"cr\r", u"tab\there", u"nul\x1f",
                                   u"del\x7f"}) {
    err_t e = kOk;
    EXPECT_EQ(BatchLine(argument, &e), u"<none>") << U8(argument);
    EXPECT_EQ(e, kErrInvalidParameter) << U8(argument);
  }
  // The program's own path is checked as well: cmd.exe reads it in the same line.
  kd_mp_c pool;
  char16_t* line;
  const char16_t* argv[] = {u"run.cmd", u"ok", nullptr};
  EXPECT_EQ(build_batch_command_line(&pool, u"cmd.exe", uR"(C:\100%\run.cmd)", argv, &line),
            kErrInvalidParameter);
  EXPECT_EQ(line, nullptr);
}

// ---- Environment ----

std::vector<std::u16string> Entries(const environment_t& environment) {
  std::vector<std::u16string> entries;
  for (size_t i = 0; i < environment.count; ++i) entries.push_back(environment.entries[i]);
  EXPECT_EQ(environment.entries[environment.count], nullptr);
  return entries;
}

TEST(Environment, StaysSortedByNameWithAsciiLettersFolded) {
  kd_mp_c pool;
  environment_t environment{};
  EXPECT_EQ(environment_put(&pool, &environment, u"b", u"1"), kOk);
  EXPECT_EQ(environment_put(&pool, &environment, u"A=2", nullptr), kOk);
  EXPECT_EQ(environment_put(&pool, &environment, u"_c", u"3"), kOk);
  EXPECT_EQ(environment_put(&pool, &environment, u"=C:", uR"(C:\x)"), kOk);
  EXPECT_EQ(Entries(environment),
            (std::vector<std::u16string>{uR"(=C:=C:\x)", u"A=2", u"b=1", u"_c=3"}));
  // Same name in other case: replaced in place, keeping the new spelling.
  EXPECT_EQ(environment_put(&pool, &environment, u"B", u"x=y"), kOk);
  EXPECT_EQ(Entries(environment)[2], u"B=x=y");
  EXPECT_EQ(std::u16string(environment_get(&environment, u"b")), u"x=y");
  // An empty value removes; removing what is not there changes nothing.
  EXPECT_EQ(environment_put(&pool, &environment, u"a", u""), kOk);
  EXPECT_EQ(environment_put(&pool, &environment, u"missing=", nullptr), kOk);
  EXPECT_EQ(Entries(environment), (std::vector<std::u16string>{uR"(=C:=C:\x)", u"B=x=y", u"_c=3"}));
  EXPECT_EQ(environment_get(&environment, u"A"), nullptr);
  EXPECT_EQ(environment_put(&pool, &environment, nullptr, u"v"), kErrInvalidParameter);
  EXPECT_EQ(environment_put(&pool, &environment, u"", u"v"), kErrInvalidParameter);
}

TEST(Environment, GrowsPastItsFirstCapacity) {
  kd_mp_c pool;
  environment_t environment{};
  ASSERT_EQ(environment_clear(&pool, &environment), kOk);
  for (int i = 40; i > 0; --i) {
    std::u16string name = u"V" + U16(std::to_string(i));
    ASSERT_EQ(environment_put(&pool, &environment, name.c_str(), u"x"), kOk);
  }
  std::vector<std::u16string> entries = Entries(environment);
  ASSERT_EQ(entries.size(), 40u);
  for (size_t i = 1; i < entries.size(); ++i) {
    std::u16string before = entries[i - 1].substr(0, entries[i - 1].find(u'='));
    std::u16string after = entries[i].substr(0, entries[i].find(u'='));
    EXPECT_LT(AsciiCompareNoCase(before.c_str(), -1, after.c_str(), -1), 0);
  }
}

// ---- Credentials ----

TEST(Logon, SplitsUserAndDomain) {
  kd_mp_c pool;
  char16_t *user, *domain;
  auto split = [&](const char16_t* logon) {
    EXPECT_EQ(split_logon(&pool, logon, &user, &domain), kOk);
    return std::u16string(user) + u"|" + domain;
  };
  EXPECT_EQ(split(uR"(CORP\ann)"), u"ann|CORP");
  EXPECT_EQ(split(u"CORP/ann"), u"ann|CORP");
  EXPECT_EQ(split(u"ann@corp.example"), u"ann|corp.example");
  EXPECT_EQ(split(uR"(CORP\ann@x)"), u"ann@x|CORP");  // the backslash decides first
  EXPECT_EQ(split(u"ann"), u"ann|" + std::u16string(computer_name()));
}

// ---- Program search ----

std::u16string ModuleName() {
  std::u16string path = module_path();
  return path.substr(path.find_last_of(u"\\/") + 1);
}

TEST(ProgramSearch, OwnDirectoryThenCurrentDirectoryThenSearchPath) {
  testing_support::ScratchDir first, second;
  std::ofstream(first.path() + "/tool.bin") << "1";
  std::filesystem::create_directory(second.path() + "/dir.bin");
  std::ofstream(second.path() + "/dir.bin2") << "2";
  std::ofstream(second.path() + "/" + U8(ModuleName())) << "shadow";
  std::u16string separator(1, os_search_path_separator());
  std::u16string search = U16(first.path()) + separator + separator + U16(second.path());
  kd_mp_c pool;
  char16_t* found;

  // The program's own directory comes before the search path.
  ASSERT_EQ(resolve_program(&pool, ModuleName().c_str(), search.c_str(), &found), kOk);
  EXPECT_EQ(std::u16string(found), std::u16string(module_path()));

  // The current directory (as first read) comes next.
  std::u16string local = u"isorun-resolve-" + U16(std::to_string(system_time_now()));
  char16_t* in_cwd = full_path(&pool, cached_current_directory(), local.c_str());
  std::ofstream(U8(local)) << "cwd";  // the current directory has not changed since
  std::ofstream(first.path() + "/" + U8(local)) << "path";
  err_t e = resolve_program(&pool, local.c_str(), search.c_str(), &found);
  std::filesystem::remove(U8(local));
  ASSERT_EQ(e, kOk);
  EXPECT_EQ(std::u16string(found), std::u16string(in_cwd));

  // Then each element in turn; empty elements and directories are passed over.
  ASSERT_EQ(resolve_program(&pool, u"tool.bin", search.c_str(), &found), kOk);
  EXPECT_EQ(std::u16string(found), full_path(&pool, U16(first.path()).c_str(), u"tool.bin"));
  EXPECT_EQ(resolve_program(&pool, u"dir.bin", search.c_str(), &found), kErrFileNotFound);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(resolve_program(&pool, u"tool.bin", nullptr, &found), kErrFileNotFound);

  // An absolute name stands for itself.
  std::u16string absolute = U16(second.path() + "/dir.bin2");
  ASSERT_EQ(resolve_program(&pool, absolute.c_str(), nullptr, &found), kOk);
  EXPECT_EQ(std::u16string(found), full_path(&pool, nullptr, absolute.c_str()));
  EXPECT_EQ(resolve_program(&pool, u"", search.c_str(), &found), kErrFileNotFound);
  EXPECT_EQ(resolve_program(&pool, nullptr, search.c_str(), &found), kErrFileNotFound);
}

// ---- The object ----

TEST(Process, TableComesFirstAndNothingStartedYet) {
  process_t* process;
  ASSERT_EQ(create_process(&process), kOk);
  EXPECT_EQ(static_cast<void*>(process), static_cast<void*>(&process->table));
  const process_i* table = process->table;
  table->add_ref(process);
  table->release(process);  // one owner left
  table->set_no_window(process, true);
  EXPECT_EQ(table->child_id(process), 0u);
  table->kill(process);  // nothing to end
  EXPECT_TRUE(table->wait_for(process, nullptr, 0));
  EXPECT_EQ(table->wait_exit(process), 0u);
  table->release(process);
}

TEST(Process, CreateFailsCleanlyWithoutMemory) {
  process_t* process = reinterpret_cast<process_t*>(1);
  PoolFailNextAllocations(1);
  EXPECT_EQ(create_process(&process), kErrOutOfMemory);
  PoolFailNextAllocations(0);
  EXPECT_EQ(process, nullptr);
}

TEST(Process, MissingProgramGivesFileNotFound) {
  Child child;
  const char16_t* missing[] = {u"isorun-no-such-program.exe", nullptr};
  EXPECT_EQ(child->launch(child.get(), missing), kErrFileNotFound);
  EXPECT_EQ(child->child_id(child.get()), 0u);
  Child empty;
  const char16_t* blank[] = {u"", nullptr};
  EXPECT_EQ(empty->launch(empty.get(), blank), kErrFileNotFound);
  Child none;
  const char16_t* nothing[] = {nullptr};
  EXPECT_EQ(none->launch(none.get(), nothing), kErrFileNotFound);
}

TEST(Process, FirstErrorIsKeptAndStopsTheLaunch) {
  Child child;
  child->set_logon(child.get(), nullptr, u"secret");  // a password without a user
  child->set_logon(child.get(), u"", u"");            // does not clear the error
  child->set_stdout(child.get(), child.File("out"));
  EXPECT_EQ(child.Launch(u"exit", {u"3"}), kErrInvalidParameter);
  EXPECT_EQ(child->child_id(child.get()), 0u);

  Child bad_handle;
  bad_handle->set_stdin(bad_handle.get(), 0x7777);
  EXPECT_EQ(bad_handle.Launch(u"exit", {u"3"}), kErrInvalidHandle);

  Child no_directory;
  PoolFailNextAllocations(1);
  no_directory->set_directory(no_directory.get(), u"somewhere");
  PoolFailNextAllocations(0);
  EXPECT_EQ(no_directory.Launch(u"exit", {u"3"}), kErrInvalidParameter);
}

TEST(Process, PoolFailureBeforeLaunchGivesOutOfMemory) {
  Child child;
  PoolFailNextAllocations(1);
  child->set_environment_variable(child.get(), u"X", u"1");
  PoolFailNextAllocations(0);
  EXPECT_EQ(child.Launch(u"exit", {u"3"}), kErrOutOfMemory);
  EXPECT_EQ(child->child_id(child.get()), 0u);
}

TEST(ProcessRun, ArgumentsArriveExactlyAsGiven) {
  std::vector<std::u16string> args = {
      u"plain",       u"two words", u"tab\there",  u"",          u"say \"hi\"",
      uR"(a\"b)",     uR"(\)",      uR"(a\\b)",    uR"(dir\)",   uR"(my dir\)",
      uR"(my dir\\)", u"\"",        uR"(\\")",     u"grüße ✓", u"  lead and trail  "};
  Child child;
  std::vector<std::string> expected;
  for (const std::u16string& arg : args) expected.push_back(U8(arg));
  EXPECT_EQ(SplitList(child.Output(u"argv", args)), expected);
  EXPECT_NE(child->child_id(child.get()), 0u);
}

TEST(ProcessRun, ExitCodesComeBack) {
  for (const char16_t* code : {u"0", u"1", u"99", u"255"}) {
    Child child;
    ASSERT_EQ(child.Launch(u"exit", {code}), kOk);
    EXPECT_EQ(child->wait_exit(child.get()), std::stoul(U8(code)));
    EXPECT_TRUE(child->wait_for(child.get(), nullptr, 0));  // ended: at once
  }
}

TEST(ProcessRun, StandardHandlesReachTheChild) {
  Child child;
  child->set_stdin(child.get(), child.File("in", "input bytes"));
  child->set_stdout(child.get(), child.File("out"));
  child->set_stderr(child.get(), child.File("err"));
  ASSERT_EQ(child.Launch(u"echo"), kOk);
  EXPECT_EQ(child->wait_exit(child.get()), 0u);
  EXPECT_EQ(child.Read("out"), "in:input bytes");
  EXPECT_EQ(child.Read("err"), "err");
}

TEST(ProcessRun, UnsetHandlesAreTheNullDevice) {
  Child child;
  child->set_stdout(child.get(), child.File("out"));
  child->set_stderr(child.get(), kNoHandle);
  ASSERT_EQ(child.Launch(u"echo"), kOk);
  EXPECT_EQ(child->wait_exit(child.get()), 0u);
  EXPECT_EQ(child.Read("out"), "in:");  // standard input read nothing
}

TEST(ProcessRun, EnvironmentIsTheObjectsOwn) {
  Child fresh;
  const char16_t* strings[] = {u"ISORUN_A=1", u"ISORUN_B=two", u"ISORUN_A=3", nullptr};
  fresh->set_environment(fresh.get(), strings);
  EXPECT_EQ(SplitList(fresh.Output(u"env", {u"ISORUN_A", u"ISORUN_B", u"ISORUN_SOURCE_DIR"})),
            (std::vector<std::string>{"3", "two", "<unset>"}));

  // Starting from this process's own environment: what it has, plus the change.
  Child derived;
  derived->set_environment_variable(derived.get(), u"ISORUN_EXTRA", u"x y");
  const char* inherited = std::getenv("PATH");
  EXPECT_EQ(SplitList(derived.Output(u"env", {u"ISORUN_EXTRA", u"PATH"})),
            (std::vector<std::string>{"x y", inherited ? inherited : "<unset>"}));
}

TEST(ProcessRun, WorkingDirectoryIsTheOneSet) {
  testing_support::ScratchDir directory;
  Child child;
  child->set_directory(child.get(), U16(directory.path()).c_str());
  std::string cwd = child.Output(u"cwd");
  EXPECT_TRUE(std::filesystem::equivalent(cwd, directory.path())) << cwd;
}

TEST(ProcessWait, TimeOutLeavesTheChildRunningUntilKilled) {
  Child child;
  ASSERT_EQ(child.Launch(u"sleep"), kOk);
  EXPECT_FALSE(child->wait_for(child.get(), nullptr, 0));
  EXPECT_FALSE(child->wait_for(child.get(), nullptr, 30));
  child->kill(child.get());
  EXPECT_TRUE(child->wait_for(child.get(), nullptr, kWaitForever));
  EXPECT_EQ(child->wait_exit(child.get()), kKilledExitCode);
  child->kill(child.get());  // ended already: nothing happens
}

TEST(ProcessWait, AbortPinEndsTheWait) {
  Child child;
  ASSERT_EQ(child.Launch(u"sleep"), kOk);
  kdsync_pin_c raised_before;
  raised_before.trigger();
  EXPECT_FALSE(child->wait_for(child.get(), &raised_before, kWaitForever));

  kdsync_pin_c raised_later;
  std::thread trigger([&] {
    sleep_ms(50);
    raised_later.trigger();
  });
  EXPECT_FALSE(child->wait_for(child.get(), &raised_later, kWaitForever));
  trigger.join();
  child->kill(child.get());
  EXPECT_EQ(child->wait_exit(child.get()), kKilledExitCode);
}

TEST(ProcessWait, EndOfTheChildWinsOverAnIdlePin) {
  Child child;
  ASSERT_EQ(child.Launch(u"exit", {u"7"}), kOk);
  kdsync_pin_c idle;
  EXPECT_TRUE(child->wait_for(child.get(), &idle, kWaitForever));
  EXPECT_EQ(child->wait_exit(child.get()), 7u);
}

}  // namespace
