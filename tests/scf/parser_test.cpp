// The SCF reader: statements, words, braces, substitution and capture, variables and scopes,
// procedures, dispatch, the exit state, the error texts, the bounds and growth.
#include "scf/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/own.h"
#include "scf/commands.h"
#include "scf_harness.h"
#include "support/vtable_slot.h"

using scf_testing::Case;
using scf_testing::ExpectCases;
using scf_testing::Recorder;
using scf_testing::RunScript;
using testing_support::VtableSlot;

namespace {

constexpr char kUnknownFoo[] = "ERROR SCF: Unknown command \"foo\".\n";
constexpr char kOpenBrace[] = "ERROR SCF: Unmatched open brace.\n";
constexpr char kCloseBrace[] = "ERROR SCF: Unmatched close brace.\n";
constexpr char kTooDeep[] = "ERROR SCF: Nesting too deep.\n";

// A parser with a recording output, released at the end of the test.
struct ParserFixture : ::testing::Test {
  void SetUp() override { ASSERT_EQ(CreateScfParser(&recorder, nullptr, &parser), kOk); }
  void TearDown() override { parser->Release(); }
  int32_t Parse(const std::u16string& text) { return parser->Parse(text.data(), ptrdiff_t(text.size())); }
  Recorder recorder;
  scf_parser_i* parser = nullptr;
};

// A command that records what the parser tells it about its words.
struct Probe : scf_key_i {
  void Execute(scf_parser_i* parser) override {
    count = parser->ArgCount();
    raw.clear();
    for (size_t i = 0; i <= count; ++i) raw.push_back(parser->ArgRaw(i));
    const char16_t* arg1 = parser->Arg(1);
    terminated1 = arg1 ? arg1 : u"(null)";
    raw1_after_arg = parser->ArgRaw(1);
    beyond = parser->Arg(count);
    beyond_length = parser->ArgLen(count);
    if (on_execute) on_execute(parser);
  }
  size_t count = 0;
  std::vector<const char16_t*> raw;
  std::u16string terminated1;
  const char16_t* raw1_after_arg = nullptr;
  const char16_t* beyond = u"unset";
  size_t beyond_length = 99;
  void (*on_execute)(scf_parser_i*) = nullptr;
};

}  // namespace

TEST(ScfInterfaces, SlotOrder) {
  EXPECT_EQ(VtableSlot(&scf_parser_output_i::out), 0u);
  EXPECT_EQ(VtableSlot(&scf_parser_output_i::err), 1u);
  EXPECT_EQ(VtableSlot(&scf_key_i::Execute), 0u);
  const size_t slots[] = {
      VtableSlot(&scf_parser_i::Release),  VtableSlot(&scf_parser_i::Out),
      VtableSlot(&scf_parser_i::OutN),     VtableSlot(&scf_parser_i::OutF),
      VtableSlot(&scf_parser_i::Err),      VtableSlot(&scf_parser_i::ErrF),
      VtableSlot(&scf_parser_i::AddCommand), VtableSlot(&scf_parser_i::CheckArgs),
      VtableSlot(&scf_parser_i::ArgCount), VtableSlot(&scf_parser_i::Arg),
      VtableSlot(&scf_parser_i::ArgRaw),   VtableSlot(&scf_parser_i::ArgLen),
      VtableSlot(&scf_parser_i::GetVar),   VtableSlot(&scf_parser_i::SetVar),
      VtableSlot(&scf_parser_i::SetVarN),  VtableSlot(&scf_parser_i::Exit),
      VtableSlot(&scf_parser_i::ExitState), VtableSlot(&scf_parser_i::Run),
      VtableSlot(&scf_parser_i::Parse)};
  for (size_t i = 0; i < std::size(slots); ++i) EXPECT_EQ(slots[i], i) << "operation " << i;
  EXPECT_EQ(VtableSlot(&ScfBoolKey::Execute), 0u);
  EXPECT_EQ(VtableSlot(&ScfBoolKey::Apply), 1u);
  EXPECT_EQ(VtableSlot(&ScfEvalKey::Execute), 0u);
  EXPECT_EQ(VtableSlot(&ScfEvalKey::Apply), 1u);
}

TEST(ScfReading, StatementsAndWords) {
  const Case cases[] = {
      {"out a b", "a b"},
      {"out a   \t b", "a b"},
      {"out {a   b}", "a   b"},
      {"out a;out b\nout c", "abc"},
      {";\n\n  ;\r\n out x", "x"},
      {"# a comment; out no\nout yes", "yes"},
      {"  # indented comment\nout yes", "yes"},
      {"out #x", "#x"},
      {"out {a}{b}c", "abc"},
      {"out a{b}c", "abc"},
      {"out {a{b}c}", "a{b}c"},
      {"out {a;$x\nb}", "a;$x\nb"},
      {"out $(x$)", "{x}"},
      {"out a$\nb", "ab"},
      {"out a$\r\nb", "ab"},
      {"out a $\n b", "a b"},
      {"out a$ b", "a b"},
      {"out a\xEF\xBB\xBF" "b", "a b"},
      {"out $-{\nline}", "line"},
      {"out $-{\r\nline}", "line"},
      {"out $-{x}", "-x"},
      {"out $undefined x", " x"},
      {"out [$undefined]", "[]"},
      {"out a\n\nout b", "ab"},
      {"OUT x; Out y", "xy"},
      {"out ${}", ""},
  };
  ExpectCases(cases);
}

TEST(ScfReading, BraceErrorsEndTheParse) {
  const Case cases[] = {
      {"out a; out {b", "a", -1, kOpenBrace},
      {"out a}", "", -1, kCloseBrace},
      {"out ${out a", "", -1, kOpenBrace},
      {"out $-{\nb", "", -1, kOpenBrace},
      {"out x; out ${out }}; out y", "x", -1, kCloseBrace},
  };
  ExpectCases(cases);
}

TEST(ScfReading, SubstitutionCapturesOutput) {
  const Case cases[] = {
      {"out ${+ 1 2}", "3"},
      {"out a${out b}c", "abc"},
      {"out ${out a; out b}", "ab"},
      {"out ${out ${out ${out deep}}}", "deep"},
      {"out ${err oops}x", "x", 0, "oops"},
      {"set p {out <$1>}; out ${p q}", "<q>"},
      {"out ${if 1 {out t}}", "t"},
      {"len ${}", "0"},
      {"out ${exit 4}x; out y", "", 4},
      {"out ${foo}; out y", "", -1, kUnknownFoo},
  };
  ExpectCases(cases);
}

TEST(ScfVariables, ScopesAndLookup) {
  const Case cases[] = {
      {"set x 5; out $x", "5"},
      {"set Foo 1; out $FOO", "1"},
      {"set x 1; set X 2; out $x", "2"},
      {"set x a; set x $x$x; out $x", "aa"},
      {"set 01 v; out $01", "v"},
      {"set 1000 w; out $1000", "w"},
      {"out [$1][$0]", "[][]"},
      {"set a.b 1; out $a.b", ".b"},
      {"parse {set x 1}; out $x", "1"},
      {"set p {set v inner; out $v}; set v outer; p; out $v", "innerouter"},
      {"set p {out $x}; set x 1; p", "1"},
      {"set p {parse {set y 2}; out $y}; p; out [$y]", "2[]"},
      {"set p {set q {out q$1}; q z}; p; q", "qz", -1, "ERROR SCF: Unknown command \"q\".\n"},
  };
  ExpectCases(cases);
}

TEST(ScfVariables, InitialVariables) {
  Recorder recorder;
  const char16_t* initial[] = {u"a=1", u"b", u"=c=d", u"e==", nullptr};
  scf_parser_i* parser = nullptr;
  ASSERT_EQ(CreateScfParser(&recorder, initial, &parser), kOk);
  EXPECT_EQ(std::u16string(parser->GetVar(u"A")), u"1");
  EXPECT_EQ(std::u16string(parser->GetVar(u"b")), u"");
  EXPECT_EQ(std::u16string(parser->GetVar(u"=c")), u"d");
  EXPECT_EQ(std::u16string(parser->GetVar(u"e")), u"=");
  EXPECT_EQ(parser->GetVar(u"c"), nullptr);
  EXPECT_EQ(parser->GetVar(u"1"), nullptr);  // no procedure call outside a parse
  parser->Release();
}

TEST_F(ParserFixture, SetVarReplacesWithinTheScopeAndCopies) {
  ASSERT_EQ(parser->SetVar(u"name", u"first"), kOk);
  const char16_t* old_value = parser->GetVar(u"name");
  ASSERT_EQ(parser->SetVar(u"NAME", old_value), kOk);  // the value may be the old one itself
  EXPECT_EQ(std::u16string(parser->GetVar(u"name")), u"first");
  ASSERT_EQ(parser->SetVarN(u"name", 2, u"xyz", 2), kOk);
  EXPECT_EQ(std::u16string(parser->GetVar(u"na")), u"xy");
  EXPECT_EQ(Parse(u"out $name"), 0);
  EXPECT_EQ(recorder.out_text, u"first");
}

TEST(ScfProcedures, CallsByVariableName) {
  const Case cases[] = {
      {"set p {out <$0|$1|$2|$3>}; p a b", "<p|a|b|>"},
      {"set p {get 1}; p z", "z"},
      {"set p {out ${get 1}}; p z", "z"},
      {"set p {1 x}; p {out hi}", "hi"},
      {"set p {exit 7}; p; out after", "", 7},
      {"set p {exit 0}; p; out after", "after"},
      {"set p {foo}; p; out after", "", -1, kUnknownFoo},
      {"set P {out called}; p", "called"},
      {"set p {out $1}; if 0 {} else p chained", "chained"},
      {"set f {if ${< $1 2} {out $1} else {out ${+ ${f ${- $1 1}} ${f ${- $1 2}}}}}; f 10", "55"},
  };
  ExpectCases(cases);
}

TEST(ScfDispatch, ErrorsAndExit) {
  const Case cases[] = {
      {"foo", "", -1, kUnknownFoo},
      {"out a; foo; out b", "a", -1, kUnknownFoo},
      {"set", "", -1, "ERROR SCF: Too few arguments specified for set command.\n"},
      {"SET a b c", "", -1, "ERROR SCF: Too many arguments specified for SET command.\n"},
      {"exit 3; out no", "", 3},
      {"out a; exit; out b", "a", 0},
  };
  ExpectCases(cases);
}

TEST_F(ParserFixture, ParseClearsTheExitStateAndRunKeepsIt) {
  EXPECT_EQ(Parse(u"exit 3"), 3);
  int32_t value = 99;
  EXPECT_FALSE(parser->ExitState(&value));
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Parse(u"out ready"), 0);
  EXPECT_EQ(recorder.out_text, u"ready");

  parser->Run(u"exit 5; out no", -1);
  EXPECT_TRUE(parser->ExitState(&value));
  EXPECT_EQ(value, 5);
  parser->Exit(0);
  EXPECT_EQ(Parse(u""), 0);
  EXPECT_FALSE(parser->ExitState(nullptr));
}

TEST_F(ParserFixture, CommandsAreFoundNewestFirstAndDroppedAfterTheirRun) {
  static Probe inner;
  struct Adder : scf_key_i {
    void Execute(scf_parser_i* parser) override {
      parser->AddCommand(u"transient", &inner);
      parser->Run(u"transient", -1);
    }
  } adder;
  parser->AddCommand(u"add", &adder);
  EXPECT_EQ(Parse(u"add"), 0);
  EXPECT_EQ(inner.count, 1u);
  EXPECT_EQ(Parse(u"transient"), -1);
  EXPECT_EQ(scf_testing::Narrow(recorder.err_text), "ERROR SCF: Unknown command \"transient\".\n");

  Probe override_out;
  parser->AddCommand(u"OUT", &override_out);
  EXPECT_EQ(Parse(u"out a b"), 0);
  EXPECT_EQ(override_out.count, 3u);
}

TEST_F(ParserFixture, WordsReferenceTheSourceUntilCopied) {
  Probe probe;
  parser->AddCommand(u"probe", &probe);
  std::u16string source = u"probe plain {braced} a{b} $(x ${out c}";
  const char16_t* begin = source.data();
  const char16_t* end = begin + source.size();
  auto in_source = [&](const char16_t* p) { return p >= begin && p < end; };
  EXPECT_EQ(Parse(source), 0);
  ASSERT_EQ(probe.count, 6u);
  EXPECT_TRUE(in_source(probe.raw[2]));   // {braced}: one unchanged slice
  EXPECT_FALSE(in_source(probe.raw[3]));  // a{b}: joined, so copied
  EXPECT_FALSE(in_source(probe.raw[4]));  // $(x: not in the source at all
  EXPECT_FALSE(in_source(probe.raw[5]));  // captured output
  EXPECT_TRUE(in_source(probe.raw[1]));   // seen before Arg(1) asked for a terminated text
  EXPECT_FALSE(in_source(probe.raw1_after_arg));
  EXPECT_EQ(probe.terminated1, u"plain");
  EXPECT_EQ(probe.beyond, nullptr);
  EXPECT_EQ(probe.beyond_length, 0u);
  EXPECT_EQ(probe.raw[6], nullptr);
}

TEST_F(ParserFixture, OutputWithoutCaptureGoesToTheInterface) {
  struct Emitter : scf_key_i {
    void Execute(scf_parser_i* parser) override {
      parser->OutN(u"abcdef", 3);
      parser->OutF(u"<%s:%i>", u"n", 42);
      parser->Out(nullptr);
      parser->ErrF(u"e%i", 1);
    }
  } emitter;
  parser->AddCommand(u"emit", &emitter);
  EXPECT_EQ(Parse(u"emit; out ${emit}"), 0);
  EXPECT_EQ(recorder.out_text, u"abc<n:42>abc<n:42>");
  EXPECT_EQ(recorder.err_text, u"e1e1");
}

TEST(ScfParserOutput, NullOutputDropsEverything) {
  int32_t exit_value = 0;
  EXPECT_EQ(ScfRunUtf8(nullptr, "out a; err b; foo", 17, &exit_value), kOk);
  EXPECT_EQ(exit_value, -1);
}

TEST(ScfRunUtf8, StopsAtTheFirstNulAndAtTheLength) {
  Recorder recorder;
  int32_t exit_value = 0;
  const char script[] = "out a\0out b";
  EXPECT_EQ(ScfRunUtf8(&recorder, script, sizeof script - 1, &exit_value), kOk);
  EXPECT_EQ(recorder.out_text, u"a");
  EXPECT_EQ(ScfRunUtf8(&recorder, "out bcd", 6, &exit_value), kOk);
  EXPECT_EQ(recorder.out_text, u"abc");
  EXPECT_EQ(ScfRunUtf8(&recorder, nullptr, 0, nullptr), kErrInvalidParameter);
}

TEST(ScfBounds, DeepNestingIsAnErrorNotACrash) {
  std::string deep_substitution = "out ";
  for (int i = 0; i < 5000; ++i) deep_substitution += "${out ";
  deep_substitution += "x" + std::string(5000, '}');
  std::string deep_bodies;
  for (int i = 0; i < 5000; ++i) deep_bodies += "if 1 {";
  deep_bodies += std::string(5000, '}');
  const Case cases[] = {
      {deep_substitution.c_str(), "", -1, kTooDeep},
      {deep_bodies.c_str(), "", -1, kTooDeep},
      {"set p {p}; p; out no", "", -1, kTooDeep},
      {"set p {out ${p}}; p", "", -1, kTooDeep},
      {"set p {set n ${+ $1 1}; if ${< $n 5000} {p $n}}; p 0", "", -1, kTooDeep},
  };
  ExpectCases(cases);
  // A bound hit in one parse does not stay with the parser.
  Recorder recorder;
  scf_parser_i* parser = nullptr;
  ASSERT_EQ(CreateScfParser(&recorder, nullptr, &parser), kOk);
  EXPECT_EQ(parser->Parse(u"set p {p}; p", -1), -1);
  EXPECT_EQ(parser->Parse(u"set q {if ${< $1 20} {q ${+ $1 1}} else {out $1}}; q 0", -1), 0);
  EXPECT_EQ(recorder.out_text, u"20");
  parser->Release();
}

TEST(ScfBounds, StatementBudgetStopsRunawayLoops) {
  ScfLimits small = kScfDefaultLimits;
  small.max_statements = 100;
  const std::string first_49_calls(49, 'x');  // out x, p alternate until statement 101
  const Case cases[] = {
      {"while {out 1} {}", "", -1, "ERROR SCF: Too many statements.\n"},
      {"set p {out x; p; p}; p", first_49_calls.c_str(), -1, "ERROR SCF: Too many statements.\n"},
      {"set i 0; while {< $i 20} {set i ${+ $i 1}}; out $i", "20"},
  };
  ExpectCases(cases, &small);

  // Each call from the host gets the whole budget again.
  Recorder recorder;
  scf_parser_i* parser = nullptr;
  ASSERT_EQ(CreateScfParser(&recorder, nullptr, &parser, &small), kOk);
  for (int run = 0; run < 3; ++run)
    EXPECT_EQ(parser->Parse(u"set i 0; while {< $i 30} {set i ${+ $i 1}}", -1), 0);
  parser->Release();
  EXPECT_EQ(RunScript("set i 0; while {< $i 20000} {set i ${+ $i 1}}; out $i").out, "20000");
}

TEST(ScfBounds, TextLengthIsBounded) {
  ScfLimits small = kScfDefaultLimits;
  small.max_text = 64;
  const Case cases[] = {
      {"set x 0123456789; set x $x$x$x; out ${len $x}", "30"},
      {"set x 0123456789; set x $x$x$x$x$x$x$x; out no", "", -1, "ERROR SCF: Text too long.\n"},
      {"set x 0123456789; while {out 1} {set x $x$x}", "", -1, "ERROR SCF: Text too long.\n"},
      {"out ${while {out 1} {out abcdefghij}}", "", -1, "ERROR SCF: Text too long.\n"},
  };
  ExpectCases(cases, &small);
}

TEST(ScfBounds, OutOfMemoryIsReported) {
  int failures = 0;
  for (uint32_t after = 0; after < 40; ++after) {
    Recorder recorder;
    scf_parser_i* parser = nullptr;
    ASSERT_EQ(CreateScfParser(&recorder, nullptr, &parser), kOk);
    // `fail` lets `after` allocations succeed and fails the next one: every failure is reported
    // and ends the parse, none crashes or goes unnoticed.
    static uint32_t g_after;
    g_after = after;
    struct FailLater : scf_key_i {
      void Execute(scf_parser_i*) override { PoolFailNextAllocations(1, g_after); }
    } fail;
    parser->AddCommand(u"fail", &fail);
    int32_t exit_value = parser->Parse(
        u"out 0 1 2 3 4 5; fail; set a x${out y}; out $a ${+ 1 2} {b}c; set b $a$a; out ${get b}", -1);
    PoolFailNextAllocations(0);
    if (exit_value == 0) {
      EXPECT_EQ(recorder.out_text, u"0 1 2 3 4 5xy 3 bcxyxy");
      EXPECT_EQ(recorder.err_text, u"");
    } else {
      ++failures;
      EXPECT_EQ(exit_value, -1);
      EXPECT_EQ(scf_testing::Narrow(recorder.err_text), "ERROR SCF: Out of memory.\n");
    }
    parser->Release();
  }
  EXPECT_GE(failures, 8);
}

TEST(ScfGrowth, BeyondInitialCapacities) {
  std::string many_words = "out";
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    many_words += " w" + std::to_string(i);
    expected += (i ? " w" : "w") + std::to_string(i);
  }
  EXPECT_EQ(RunScript(many_words).out, expected);

  std::string long_word(100000, 'x');
  EXPECT_EQ(RunScript("out " + long_word).out, long_word);
  EXPECT_EQ(RunScript("out {" + long_word + "}y").out, long_word + "y");
  EXPECT_EQ(RunScript("set x " + long_word + "; out ${len $x$x}").out, "200000");

  std::string many_variables;
  for (int i = 0; i < 500; ++i) many_variables += "set v" + std::to_string(i) + " " + std::to_string(i) + "\n";
  many_variables += "out $v0 $v250 $v499";
  EXPECT_EQ(RunScript(many_variables).out, "0 250 499");

  std::string nested_words = "out ${out";
  std::string nested_expected;
  for (int i = 0; i < 300; ++i) {
    nested_words += " " + std::to_string(i);
    nested_expected += (i ? " " : "") + std::to_string(i);
  }
  EXPECT_EQ(RunScript(nested_words + "} end").out, nested_expected + " end");

  Recorder recorder;
  scf_parser_i* parser = nullptr;
  ASSERT_EQ(CreateScfParser(&recorder, nullptr, &parser), kOk);
  Probe probes[200];
  std::vector<std::u16string> names;
  for (int i = 0; i < 200; ++i) names.push_back(u"c" + scf_testing::Widen(std::to_string(i)));
  for (int i = 0; i < 200; ++i) ASSERT_EQ(parser->AddCommand(names[i].c_str(), &probes[i]), kOk);
  EXPECT_EQ(parser->Parse(u"c0 a; c199 a b", -1), 0);
  EXPECT_EQ(probes[0].count, 2u);
  EXPECT_EQ(probes[199].count, 3u);
  parser->Release();
}
