// Runs SCF scripts for the tests: a recording output and a one-call runner that gives back what
// the script printed, what it reported and its exit value, all as UTF-8.
#pragma once
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "base/text.h"
#include "scf/scf.h"

namespace scf_testing {

inline std::string Narrow(const std::u16string& text) {
  std::string narrow(Utf16ToUtf8(nullptr, 0, text.data(), ptrdiff_t(text.size())), '\0');
  Utf16ToUtf8(narrow.data(), narrow.size() + 1, text.data(), ptrdiff_t(text.size()));
  return narrow;
}

inline std::u16string Widen(const std::string& text) {
  std::u16string wide(Utf8ToUtf16(nullptr, 0, text.data(), ptrdiff_t(text.size())), u'\0');
  Utf8ToUtf16(wide.data(), wide.size() + 1, text.data(), ptrdiff_t(text.size()));
  return wide;
}

class Recorder : public scf_parser_output_i {
 public:
  void out(const char16_t* text) override { out_text += text, ++out_calls; }
  void err(const char16_t* text) override { err_text += text, ++err_calls; }
  std::u16string out_text, err_text;
  int out_calls = 0, err_calls = 0;
};

struct Outcome {
  std::string out;
  std::string err;
  int32_t exit;
};

inline Outcome RunScript(const std::string& script, const ScfLimits* limits = nullptr) {
  Recorder recorder;
  int32_t exit_value = 12345;
  err_t result = ScfRunUtf8(&recorder, script.data(), script.size(), &exit_value, limits);
  if (result != kOk) return {"", "run failed", -12345};
  return {Narrow(recorder.out_text), Narrow(recorder.err_text), exit_value};
}

// One row of a table-driven test: script in, printed text, reported text and exit value out.
struct Case {
  const char* script;
  const char* out;
  int32_t exit = 0;
  const char* err = "";
};

inline void ExpectCases(const Case* cases, size_t count, const ScfLimits* limits = nullptr) {
  for (size_t i = 0; i < count; ++i) {
    const Case& c = cases[i];
    Outcome got = RunScript(c.script, limits);
    EXPECT_EQ(got.out, c.out) << "script: " << c.script;
    EXPECT_EQ(got.err, c.err) << "script: " << c.script;
    EXPECT_EQ(got.exit, c.exit) << "script: " << c.script;
  }
}

template <size_t N>
void ExpectCases(const Case (&cases)[N], const ScfLimits* limits = nullptr) {
  ExpectCases(cases, N, limits);
}

}  // namespace scf_testing
