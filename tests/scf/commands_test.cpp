// The standard commands: registration order, argument counts, values, control flow, strings,
// comparison, logic and arithmetic.
#include "scf/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scf_harness.h"

using scf_testing::Case;
using scf_testing::ExpectCases;
using scf_testing::Narrow;
using scf_testing::RunScript;

namespace {

// A parser that only records registrations.
class RegistrationRecorder final : public scf_parser_i {
 public:
  void Release() override {}
  void Out(const char16_t*) override {}
  void OutN(const char16_t*, ptrdiff_t) override {}
  void OutF(const char16_t*, ...) override {}
  void Err(const char16_t*) override {}
  void ErrF(const char16_t*, ...) override {}
  err_t AddCommand(const char16_t* name, scf_key_i* command) override {
    names.push_back(Narrow(name));
    keys.push_back(command);
    return kOk;
  }
  bool CheckArgs(size_t, size_t) override { return false; }
  size_t ArgCount() override { return 0; }
  const char16_t* Arg(size_t) override { return nullptr; }
  const char16_t* ArgRaw(size_t) override { return nullptr; }
  size_t ArgLen(size_t) override { return 0; }
  const char16_t* GetVar(const char16_t*) override { return nullptr; }
  err_t SetVar(const char16_t*, const char16_t*) override { return kOk; }
  err_t SetVarN(const char16_t*, ptrdiff_t, const char16_t*, ptrdiff_t) override { return kOk; }
  void Exit(int32_t) override {}
  bool ExitState(int32_t*) override { return false; }
  void Run(const char16_t*, ptrdiff_t) override {}
  int32_t Parse(const char16_t*, ptrdiff_t) override { return 0; }

  std::vector<std::string> names;
  std::vector<scf_key_i*> keys;
};

std::string TooFew(const std::string& name) {
  return "ERROR SCF: Too few arguments specified for " + name + " command.\n";
}
std::string TooMany(const std::string& name) {
  return "ERROR SCF: Too many arguments specified for " + name + " command.\n";
}

}  // namespace

TEST(ScfCommands, RegisteredInTheirOrder) {
  RegistrationRecorder recorder;
  ASSERT_EQ(ScfAddStandardCommands(&recorder), kOk);
  const std::vector<std::string> expected = {
      "exit", "out", "err", "parse", "set", "get", "if", "while", "!", "len", "cmp",
      "asciicmpi", "glob", "asciiglobi", "asciiupper", "asciilower", "asciiupper1", "asciilower1",
      "=", "!=", "<>", ">", ">=", "<", "<=", "+", "-", "*", "/", "%", "&&", "||"};
  EXPECT_EQ(recorder.names, expected);
  EXPECT_EQ(recorder.keys[19], recorder.keys[20]);  // "!=" and "<>" are one object
}

TEST(ScfCommands, ArgumentCounts) {
  struct Range {
    const char* name;
    int minimum;  // arguments after the name
    int maximum;  // -1: no limit
  };
  const Range ranges[] = {
      {"exit", 0, 1},       {"out", 0, -1},        {"err", 0, -1},         {"parse", 1, 1},
      {"set", 1, 2},        {"get", 1, 1},         {"if", 2, -1},          {"while", 2, 2},
      {"!", 1, 1},          {"len", 1, 1},         {"cmp", 2, 2},          {"asciicmpi", 2, 2},
      {"glob", 2, 2},       {"asciiglobi", 2, 2},  {"asciiupper", 1, 1},   {"asciilower", 1, 1},
      {"asciiupper1", 1, 1}, {"asciilower1", 1, 1}, {"=", 2, 2},           {"!=", 2, 2},
      {"<>", 2, 2},         {">", 2, 2},           {">=", 2, 2},           {"<", 2, 2},
      {"<=", 2, 2},         {"+", 2, 2},           {"-", 2, 2},            {"*", 2, 2},
      {"/", 2, 2},          {"%", 2, 2},           {"&&", 2, 2},           {"||", 2, 2},
  };
  auto statement = [](const std::string& name, int arguments) {
    std::string text = name;
    for (int i = 0; i < arguments; ++i) text += " {}";
    return text + "; out after";
  };
  for (const Range& range : ranges) {
    if (range.minimum > 0) {
      auto got = RunScript(statement(range.name, range.minimum - 1));
      EXPECT_EQ(got.err, TooFew(range.name)) << range.name;
      EXPECT_EQ(got.exit, -1) << range.name;
      EXPECT_EQ(got.out, "") << range.name;
    }
    if (range.maximum >= 0) {
      auto got = RunScript(statement(range.name, range.maximum + 1));
      EXPECT_EQ(got.err, TooMany(range.name)) << range.name;
      EXPECT_EQ(got.exit, -1) << range.name;
      EXPECT_EQ(got.out, "") << range.name;
    }
  }
}

TEST(ScfCommands, OutputAndVariables) {
  const Case cases[] = {
      {"out", ""},
      {"out a    b", "a b"},
      {"out {a    b}", "a    b"},
      {"out {a\n}", "a\n"},
      {"err a   b; out x", "x", 0, "a b"},
      {"err; out x", "x"},
      {"set x; out [$x]", "[]"},
      {"set x 5; get X", "5"},
      {"get nothing; out .", "."},
      {"set p {get 0}; p", "p"},
      {"parse {out a; out b}", "ab"},
      {"parse {exit 6}; out no", "", 6},
      {"exit yes", "", 1},
      {"exit 0x100000003", "", 3},
      {"exit -2", "", -2},
      {"exit a b; out no", "", -1, "ERROR SCF: Too many arguments specified for exit command.\n"},
  };
  ExpectCases(cases);
}

TEST(ScfCommands, IfAndElseChains) {
  const Case cases[] = {
      {"if 1 {out a}", "a"},
      {"if yes {out a}", "a"},
      {"if 0 {out a}", ""},
      {"if {} {out a}", ""},
      {"if 1 {out a} junk junk", "a"},
      {"if ${= 1 1} {out t}", "t"},
      {"if 0 {out a} else {out b}", "b"},
      {"if 0 {out a} ELSE {out b}", "b"},
      {"if 0 {out a} else if 1 {out c}", "c"},
      {"if 0 {out a} else if 0 {out c} else {out d}", "d"},
      {"if 0 {out a} else if 0 {out c} else if 1 {out e} else {out f}", "e"},
      {"if 0 {out a} else out x y", "x y"},
      {"if 0 {out a} otherwise {out b}", "", -1, "ERROR SCF: Expecting \"else\" but found \"otherwise\".\n"},
      {"if 0 {out a} else", "", -1, "ERROR SCF: Missing else body.\n"},
      {"if 0 {out a} else if 0 {out b} else", "", -1, "ERROR SCF: Missing else body.\n"},
      {"if 0 {} else foo bar", "", -1, "ERROR SCF: Unknown command \"foo\".\n"},
      {"if 0 {} else exit 4; out no", "", 4},
      {"if 1 {set v 1}; out $v", "1"},
  };
  ExpectCases(cases);
}

TEST(ScfCommands, WhileReadsItsConditionAsStatements) {
  const Case cases[] = {
      {"while {< $i 3} {set i ${+ $i 1}}; out $i", "3"},
      {"set i 0; while {< $i 3} {out $i; set i ${+ $i 1}}", "012"},
      {"while {out 0} {out x}", ""},
      {"while {} {out x}", ""},
      {"while {exit 9} {out x}; out no", "", 9},
      {"set i 0; while {out 1} {set i ${+ $i 1}; if ${= $i 5} {exit 2}}; out no", "", 2},
      {"while 1 {}", "", -1, "ERROR SCF: Unknown command \"1\".\n"},
      {"out ${set i 0; while {< $i 2} {out $i; set i ${+ $i 1}}}!", "01!"},
  };
  ExpectCases(cases);
}

TEST(ScfCommands, Strings) {
  const Case cases[] = {
      {"len {}", "0"},
      {"len abc", "3"},
      {"len {a b}", "3"},
      {"len \xF0\x9F\x98\x80", "2"},
      {"cmp a b", "-1"},
      {"cmp b a", "1"},
      {"cmp ab abc", "-1"},
      {"cmp abc abc", "0"},
      {"cmp a B", "1"},
      {"cmp \xEF\xBF\xBF \xF0\x9F\x98\x80", "-1"},  // by code point, not by unit
      {"asciicmpi ABC abc", "0"},
      {"asciicmpi a B", "-1"},
      {"asciicmpi abc AB", "1"},
      {"glob *.txt readme.txt", "1"},
      {"glob ? {}", "0"},
      {"glob ** {}", "1"},
      {"glob *.TXT readme.txt", "0"},
      {"asciiglobi *.TXT readme.txt", "1"},
      {"glob r?adme* readme.txt", "1"},
      {"asciiupper {h\xC3\xA9llo w\xC3\xB6rld}", "H\xC3\xA9LLO W\xC3\xB6RLD"},
      {"asciilower \xC3\x80" "BC", "\xC3\x80" "bc"},
      {"asciiupper {}", ""},
      {"asciiupper1 hello", "Hello"},
      {"asciilower1 ABC", "aBC"},
      {"asciiupper1 \xC3\xA9lan", "\xC3\xA9lan"},
  };
  ExpectCases(cases);
  std::string long_text(1000, 'a');
  EXPECT_EQ(RunScript("asciiupper " + long_text).out, std::string(1000, 'A'));
}

TEST(ScfCommands, ComparisonAndLogic) {
  const Case cases[] = {
      {"= 0x10 16", "1"},
      {"= true 1", "1"},
      {"= abc 0", "1"},
      {"= 12abc 12", "1"},
      {"!= 1 1", "0"},
      {"<> 1 2", "1"},
      {"> 0x10 15", "1"},
      {">= 3 3", "1"},
      {"< -1 0", "1"},
      {"<= 4 3", "0"},
      {"< 0x7FFFFFFFFFFFFFFF -1", "0"},
      {"&& 1 0", "0"},
      {"&& yes on", "1"},
      {"|| 0 0", "0"},
      {"|| 0 t", "1"},
      {"! 0", "1"},
      {"! abc", "1"},
      {"! 5", "0"},
      {"! off", "1"},
  };
  ExpectCases(cases);
}

TEST(ScfCommands, ArithmeticWrapsAndRefusesUndefinedDivision) {
  const Case cases[] = {
      {"+ yes 1", "2"},
      {"- 3 5", "-2"},
      {"/ -7 2", "-3"},
      {"% -7 2", "-1"},
      {"% 7 -2", "1"},
      {"* 6 7", "42"},
      {"out ${* ${+ 1 2} ${- 10 4}}", "18"},
      {"+ 9223372036854775807 1", "-9223372036854775808"},
      {"- -9223372036854775808 1", "9223372036854775807"},
      {"* 4294967296 4294967296", "0"},
      {"* -9223372036854775808 -1", "-9223372036854775808"},
      {"% -9223372036854775808 -1", "0"},
      {"/ -9223372036854775808 1", "-9223372036854775808"},
      {"out a; / 1 0; out b", "a", -1, "ERROR SCF: Division by zero.\n"},
      {"% 1 0", "", -1, "ERROR SCF: Division by zero.\n"},
      {"% 1 abc", "", -1, "ERROR SCF: Division by zero.\n"},
      {"out ${/ -9223372036854775808 -1}", "", -1, "ERROR SCF: Division overflow.\n"},
  };
  ExpectCases(cases);
}
