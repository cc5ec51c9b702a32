// isorun scf SCRIPT [NAME=VALUE...]: runs a localisation script and prints what it writes.
// isorun usertext SCRIPT [--lang L]: loads a script as the runner does for language L and prints
// the user-text table it yields, so a translator can check a translation before it is built in.
// Both write UTF-8, whatever the console's code page. A script's own failure (its errors, a
// non-zero exit value) is told in the script's terms, with no error code of the tool's; the exit
// statuses are listed in each command's --help.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"
#include "runner/runner_text.h"
#include "scf/scf.h"
#include "tools/commands.h"
#include "tools/paths.h"
#include "usertext/user_text.h"
#include "usertext/ut_out.h"

// The runner's identifiers are the ones a translation is for: naming one links the runner's
// defaults into the tool.
[[gnu::used]] static const char16_t* const* const kRunnerTextsLinked =
    &kUtErrorAdministratorRequired;

namespace tool {
namespace {

void WriteUtf8(FILE* stream, const char16_t* text) {
  std::string bytes(Utf16ToUtf8(nullptr, 0, text, -1), '\0');
  Utf16ToUtf8(bytes.data(), bytes.size() + 1, text, -1);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// A script's out and err, written as they come; err also counts.
class ScriptOutput : public scf_parser_output_i {
 public:
  explicit ScriptOutput(FILE* out_stream) : out_stream_(out_stream) {}
  void out(const char16_t* text) override { WriteUtf8(out_stream_, text); }
  void err(const char16_t* text) override {
    ++errors;
    WriteUtf8(stderr, text);
  }
  uint32_t errors = 0;

 private:
  FILE* out_stream_;
};

// Lines from the table's load go to standard error, keeping standard output for the table.
class StderrLines : public UtOut {
 public:
  int write(const char16_t* text, bool line_end) override {
    WriteUtf8(stderr, text);
    if (line_end) std::fputc('\n', stderr);
    return 0;
  }
};

bool ReadScript(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// "isorun: scf: SCRIPT: MESSAGE" on standard error; exits 1.
int ScriptFailed(const Invocation& inv, const std::string& message) {
  std::fprintf(stderr, "isorun: %s: %s: %s\n", inv.command->name, inv.args[0].c_str(),
               message.c_str());
  return kExitFailure;
}

int ScriptErrors(const Invocation& inv, uint32_t errors) {
  return ScriptFailed(
      inv, "the script reported " + std::to_string(errors) + (errors == 1 ? " error" : " errors"));
}

int RunScf(const Invocation& inv) {
  if (inv.args.empty()) return UsageError(inv, "expects a SCRIPT");
  std::string script;
  if (!ReadScript(inv.args[0], &script))
    return Fail(inv, kErrFileNotFound, "cannot read " + inv.args[0]);
  // NAME=VALUE arguments become the script's variables.
  std::vector<std::u16string> definitions;
  for (size_t i = 1; i < inv.args.size(); ++i) definitions.push_back(Wide(inv.args[i]));
  std::vector<const char16_t*> variables;
  for (const std::u16string& d : definitions) variables.push_back(d.c_str());
  variables.push_back(nullptr);

  std::u16string text(Utf8ToUtf16(nullptr, 0, script.data(), ptrdiff_t(script.size())), u'\0');
  Utf8ToUtf16(text.data(), text.size() + 1, script.data(), ptrdiff_t(script.size()));
  ScriptOutput output(stdout);
  scf_parser_i* parser = nullptr;
  if (err_t e = CreateScfParser(&output, variables.data(), &parser))
    return Fail(inv, e, "no parser");
  int32_t exit_value = parser->Parse(text.c_str(), ptrdiff_t(text.size()));
  parser->Release();
  std::fflush(stdout);
  if (output.errors) return ScriptErrors(inv, output.errors);
  if (exit_value != 0)
    return ScriptFailed(inv, "the script ended with exit value " + std::to_string(exit_value));
  return kExitOk;
}

// Texts on one line each: line ends, tabs and backslashes written as escapes.
std::string Escaped(const char16_t* text) {
  std::string bytes(Utf16ToUtf8(nullptr, 0, text, -1), '\0');
  Utf16ToUtf8(bytes.data(), bytes.size() + 1, text, -1);
  std::string out;
  for (char c : bytes) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

void PrintEntry(void*, const char16_t* id, const char16_t* text) {
  std::printf("%s\t%s\n", Narrow(id).c_str(), Escaped(text).c_str());
}

int RunUserText(const Invocation& inv) {
  if (inv.args.size() != 1) return UsageError(inv, "expects one SCRIPT");
  std::string script;
  if (!ReadScript(inv.args[0], &script))
    return Fail(inv, kErrFileNotFound, "cannot read " + inv.args[0]);
  std::u16string language = Wide(inv.Value("lang", "ENU"));
  StderrLines lines;
  uint32_t errors =
      UserTextAddData(&lines, language.c_str(), script.data(), uint32_t(script.size()));
  std::fflush(stderr);
  UserTextForEach(PrintEntry, nullptr);
  std::fflush(stdout);
  return errors ? ScriptErrors(inv, errors) : kExitOk;
}

}  // namespace

Command ScfCommand() {
  return {"scf",
          "run a localisation script and print its output",
          "SCRIPT [NAME=VALUE...]",
          {},
          RunScf,
          "exit status:\n"
          "  0  the script ran to its end or to \"exit 0\" and reported no error\n"
          "  1  the script reported errors or ended with another exit value (both told on\n"
          "     standard error), or it could not be read\n"
          "  2  the command was used wrongly\n"};
}

Command UserTextCommand() {
  return {"usertext",
          "print the user-text table a localisation script yields",
          "SCRIPT",
          {{"lang", 0, "L", "the user's language, as the runner names it (default ENU)"}},
          RunUserText,
          "exit status:\n"
          "  0  the script reported no error\n"
          "  1  the script reported errors (the table is printed all the same and the count told\n"
          "     on standard error), or it could not be read\n"
          "  2  the command was used wrongly\n"};
}

}  // namespace tool
