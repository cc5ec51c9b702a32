// A property target for the child's command line. The input decodes to an argument vector, and:
//   - the line build_command_line makes, split by a reference parser that follows the Windows
//     argument rules, gives the vector back unchanged (argument 0, the program path, always
//     quoted and taken by the program-name rule: quotes group, nothing is escaped);
//   - a batch file's line from build_batch_command_line is refused, or every argument and the
//     program sit each in one quoted section that nothing inside it can end, and none holds a
//     quote, % or ! or a control character, the characters cmd.exe acts on even inside quotes;
//   - is_batch_file ignores what the system ignores at the end of a name (trailing dots and
//     spaces, a stream suffix).
// A broken property traps, so the fuzzer reports it.
//
// Input: the first byte holds flags (bit 0: also pass argument 0 as `program`); then one
// character per byte, 0xFF taking the next two bytes as one UTF-16 unit (little-endian), and a
// zero byte ending an argument.
#include <cstdint>
#include <string>
#include <vector>

#include "base/pool.h"
#include "runner/process.h"

namespace {

using Args = std::vector<std::u16string>;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

Args Decode(const uint8_t* data, size_t size) {
  Args args(1);
  for (size_t i = 0; i < size; ++i) {
    char16_t c = data[i];
    if (c == 0xFF && i + 2 < size) {
      c = char16_t(data[i + 1] | data[i + 2] << 8);
      i += 2;
    }
    if (c == 0) {
      args.emplace_back();
    } else {
      args.back() += c;
    }
  }
  return args;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The program name: quotes group and are dropped, a blank outside them ends it.
std::u16string ParseProgram(const std::u16string& line, size_t& i) {
  std::u16string name;
  bool quoted = false;
  for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
    if (line[i] == u'"') {
      quoted = !quoted;
    } else {
      name += line[i];
    }
  }
  return name;
}

// One later argument: 2n backslashes and a quote give n backslashes and a quote that groups,
// 2n + 1 give n and a literal quote, other backslashes are literal; inside quotes a doubled
// quote is one literal quote.
std::u16string ParseArgument(const std::u16string& line, size_t& i) {
  std::u16string argument;
  bool quoted = false;
  while (i < line.size() && (quoted || !IsBlank(line[i]))) {
    if (line[i] == u'\\') {
      size_t backslashes = 0;
      for (; i < line.size() && line[i] == u'\\'; ++i) ++backslashes;
      bool before_quote = i < line.size() && line[i] == u'"';
      argument.append(before_quote ? backslashes / 2 : backslashes, u'\\');
      if (before_quote && backslashes % 2 == 1) argument += line[i++];
    } else if (line[i] == u'"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
        argument += u'"';
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
    } else {
      argument += line[i++];
    }
  }
  return argument;
}

Args ParseCommandLine(const std::u16string& line) {
  size_t i = 0;
  Args args{ParseProgram(line, i)};
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return args;
    args.push_back(ParseArgument(line, i));
  }
}

std::vector<const char16_t*> Pointers(const Args& args, size_t from) {
  std::vector<const char16_t*> argv;
  for (size_t i = from; i < args.size(); ++i) argv.push_back(args[i].c_str());
  argv.push_back(nullptr);
  return argv;
}

void CheckStandardLine(const Args& args, bool separate_program) {
  // A file name holds no quote, and the program-name rule could not carry one.
  if (args[0].find(u'"') != std::u16string::npos) return;
  kd_mp_c pool;
  std::vector<const char16_t*> argv = Pointers(args, 0);
  const char16_t* program = separate_program ? args[0].c_str() : nullptr;
  if (separate_program) argv[0] = u"stand-in";
  char16_t* line = build_command_line(&pool, argv.data(), program);
  Check(line != nullptr);
  Check(ParseCommandLine(line) == args);
}

bool CmdActsOn(char16_t c) { return c == u'"' || c == u'%' || c == u'!' || c < 0x20 || c == 0x7F; }

// The batch line: "interpreter" /d /s /c ", then each of the program and the arguments in
// quotes of its own, single spaces between, and the closing quote /s drops.
void CheckBatchLine(const Args& args) {
  static const std::u16string kInterpreter = u"C:\\Windows\\System32\\cmd.exe";
  kd_mp_c pool;
  std::vector<const char16_t*> argv = Pointers(args, 0);
  char16_t* built = nullptr;
  if (build_batch_command_line(&pool, kInterpreter.c_str(), args[0].c_str(), argv.data(), &built) != kOk) {
    Check(built == nullptr);
    return;
  }
  for (const std::u16string& a : args) {
    for (char16_t c : a) Check(!CmdActsOn(c));
  }
  std::u16string line = built;
  std::u16string head = u"\"" + kInterpreter + u"\" /d /s /c \"";
  Check(line.compare(0, head.size(), head) == 0 && line.size() > head.size() && line.back() == u'"');
  std::u16string inner = line.substr(head.size(), line.size() - head.size() - 1);
  Args sections;
  for (size_t i = 0; i < inner.size();) {
    Check(inner[i] == u'"');
    size_t close = inner.find(u'"', i + 1);
    Check(close != std::u16string::npos);
    sections.push_back(inner.substr(i + 1, close - i - 1));
    i = close + 1;
    if (i < inner.size()) Check(inner[i++] == u' ' && i < inner.size());
  }
  Check(sections == args);
}

void CheckBatchRule(const std::u16string& program) {
  bool batch = is_batch_file(program.c_str());
  Check(is_batch_file((program + u".").c_str()) == batch);
  Check(is_batch_file((program + u" ").c_str()) == batch);
  Check(is_batch_file((program + u":stream").c_str()) == batch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Args args = Decode(data + 1, size - 1);
  CheckStandardLine(args, data[0] & 1);
  CheckBatchLine(args);
  CheckBatchRule(args[0]);
  return 0;
}
