// isorun scf and isorun usertext, run as programs: the user-text table is made before main, so
// only a fresh process shows what TARNU_USERTEXTTESTMODE does.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/test_support.h"

namespace {

struct ToolRun {
  int code;
  std::string out;  // standard output; standard error goes to the file `err`
  std::string err;
};

// Runs `isorun ARGS` with the environment assignments in `env` (e.g. "A=1 ").
ToolRun RunIsorun(const std::string& dir, const std::string& env, const std::string& args) {
  std::string err_path = dir + "/stderr.txt";
  std::string command =
      env + "'" + testing_support::BinDir() + "/isorun' " + args + " 2>'" + err_path + "'";
  ToolRun run{-1, "", ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.out.append(chunk, n);
  int status = pclose(pipe);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_path);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

class UserTextCommands : public testing::Test {
 protected:
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_.path() + "/" + name, std::ios::binary) << text;
  }
  ToolRun Run(const std::string& args, const std::string& env = "") {
    return RunIsorun(dir_.path(), env, args);
  }
  std::string Path(const std::string& name) { return "'" + dir_.path() + "/" + name + "'"; }

  testing_support::ScratchDir dir_;
};

constexpr char kTranslation[] =
    "if ${asciiglobi DEU $langid} {\n"
    "  text error_extracting_title {Entpacken fehlgeschlagen}\n"
    "} else {\n"
    "  text error_extracting_title {Extraction failed!}\n"
    "}\n";

}  // namespace

TEST_F(UserTextCommands, UserTextPrintsTheTableForTheLanguage) {
  Write("t.scf", kTranslation);
  ToolRun de = Run("usertext " + Path("t.scf") + " --lang DEU");
  EXPECT_EQ(de.code, 0) << de.err;
  EXPECT_NE(de.out.find("error_extracting_title\tEntpacken fehlgeschlagen\n"), std::string::npos);
  // Every identifier of the runner is listed, line ends escaped.
  EXPECT_NE(de.out.find("error_administrator_required\tThis program must be run by an "
                        "administrator.\\n\n"),
            std::string::npos);
  EXPECT_NE(de.out.find("locale_time_sep\t"), std::string::npos);

  ToolRun other = Run("usertext " + Path("t.scf") + " --lang FRA");
  EXPECT_NE(other.out.find("error_extracting_title\tExtraction failed!\n"), std::string::npos);

  ToolRun test_mode = Run("usertext " + Path("t.scf"), "TARNU_USERTEXTTESTMODE=1 ");
  EXPECT_NE(test_mode.out.find("error_extracting_title\t(error_extracting_title) Extraction failed!\n"),
            std::string::npos);
  EXPECT_NE(test_mode.out.find("verify_skip_button\t(verify_skip_button) Skip\n"), std::string::npos);
  EXPECT_NE(test_mode.out.find("extract_title\t(extract_title) Preparing Setup\n"), std::string::npos);
}

TEST_F(UserTextCommands, ErrorsAreCountedAndFailTheCommand) {
  Write("bad.scf", "text kept 1\nbogus word\ntext never 2\n");
  ToolRun run = Run("usertext " + Path("bad.scf"));
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("ERROR SCF: Unknown command \"bogus\".\n"), std::string::npos);
  EXPECT_NE(run.err.find(": the script reported 1 error\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("(error"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("kept\t1\n"), std::string::npos);
  EXPECT_EQ(run.out.find("never"), std::string::npos);

  EXPECT_EQ(Run("usertext " + Path("missing.scf")).code, 1);
  EXPECT_EQ(Run("usertext").code, 2);
}

TEST_F(UserTextCommands, ScfRunsAScriptWithVariables) {
  Write("s.scf", "out ${+ $a 2}{\n}\nout $langid\n");
  ToolRun run = Run("scf " + Path("s.scf") + " a=40 langid=DEU");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "42\nDEU");

  Write("e.scf", "err {not good\n}\nexit 3\n");
  run = Run("scf " + Path("e.scf"));
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("not good"), std::string::npos);

  Write("x.scf", "exit 5\n");
  run = Run("scf " + Path("x.scf"));
  EXPECT_EQ(run.code, 1);
  // In the script's own terms: no error code of the tool's.
  EXPECT_NE(run.err.find("x.scf: the script ended with exit value 5\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("(error"), std::string::npos) << run.err;
}

TEST_F(UserTextCommands, HelpListsTheExitStatuses) {
  for (const char* command : {"scf", "usertext"}) {
    ToolRun help = Run(std::string(command) + " --help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("exit status:\n  0  "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("\n  2  the command was used wrongly\n"), std::string::npos) << help.out;
  }
}
