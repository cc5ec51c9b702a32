// The standard SCF commands.
#include "scf/commands.h"

#include <cstring>

#include "base/format.h"
#include "base/own.h"
#include "base/text.h"
#include "scf/parser.h"

namespace {

ScfParserImp* Imp(scf_parser_i* parser) { return static_cast<ScfParserImp*>(parser); }

int64_t ValueOf(scf_parser_i* parser, size_t index) {
  return ParseNumberOrBool(parser->ArgRaw(index), ptrdiff_t(parser->ArgLen(index)));
}

void OutBool(scf_parser_i* parser, bool value) { parser->Out(value ? u"1" : u"0"); }

void OutOrder(scf_parser_i* parser, int order) {
  parser->Out(order < 0 ? u"-1" : order > 0 ? u"1" : u"0");
}

void OutNumber(scf_parser_i* parser, int64_t value, uint32_t form) {
  char16_t digits[32];
  NumberToText(digits, 32, value, form, 0);
  parser->Out(digits);
}

// A scratch text: on the stack when short, else on the heap.
class Scratch {
 public:
  explicit Scratch(size_t length)
      : text_(length < sizeof local_ / sizeof *local_
                  ? local_
                  : Owned<char16_t>::Array(uint64_t(length) + 1).release()) {}
  ~Scratch() {
    if (text_ != local_) HeapFree(text_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  char16_t* get() { return text_; }

 private:
  char16_t local_[256];
  char16_t* text_;
};

// The arguments joined by one blank, handed over as one terminated text (one `err` call per
// statement, one `out` call at the top level).
template <typename Emit>
void EmitJoined(scf_parser_i* parser, Emit emit) {
  size_t count = parser->ArgCount();
  if (count < 2) return;
  size_t total = count - 2;
  for (size_t i = 1; i < count; ++i) total += parser->ArgLen(i);
  Scratch joined(total);
  char16_t* p = joined.get();
  if (!p) return Imp(parser)->FailNoMemory();
  for (size_t i = 1; i < count; ++i) {
    if (i > 1) *p++ = u' ';
    size_t length = parser->ArgLen(i);
    std::memcpy(p, parser->ArgRaw(i), length * sizeof(char16_t));
    p += length;
  }
  *p = 0;
  emit(joined.get(), total);
}

// Emits the one argument with `map` applied to its units [0, limit).
void EmitMapped(scf_parser_i* parser, char16_t (*map)(char16_t), size_t limit) {
  if (!parser->CheckArgs(2, 2)) return;
  size_t length = parser->ArgLen(1);
  if (length == 0) return;
  Scratch mapped(length);
  char16_t* p = mapped.get();
  if (!p) return Imp(parser)->FailNoMemory();
  std::memcpy(p, parser->ArgRaw(1), length * sizeof(char16_t));
  for (size_t i = 0; i < length && i < limit; ++i) p[i] = map(p[i]);
  parser->OutN(p, ptrdiff_t(length));
}

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

void Report(scf_parser_i* parser, const char16_t* text) {
  parser->Err(text);
  parser->Exit(-1);
}

}  // namespace

void ScfExitKey::Execute(scf_parser_i* parser) {
  // A wrong count keeps the -1 that CheckArgs set, so the failure is not read as success.
  if (!parser->CheckArgs(1, 2)) return;
  int64_t value = parser->ArgCount() == 2 ? ValueOf(parser, 1) : 0;
  parser->Exit(int32_t(uint32_t(uint64_t(value))));
}

void ScfOutKey::Execute(scf_parser_i* parser) {
  if (parser->ArgCount() == 2) return parser->OutN(parser->ArgRaw(1), ptrdiff_t(parser->ArgLen(1)));
  EmitJoined(parser, [parser](const char16_t* text, size_t length) {
    parser->OutN(text, ptrdiff_t(length));
  });
}

void ScfErrKey::Execute(scf_parser_i* parser) {
  EmitJoined(parser, [parser](const char16_t* text, size_t) { parser->Err(text); });
}

void ScfParseKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(2, 2)) return;
  parser->Run(parser->ArgRaw(1), ptrdiff_t(parser->ArgLen(1)));
}

void ScfSetKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(2, 3)) return;
  bool has_value = parser->ArgCount() == 3;
  err_t result = parser->SetVarN(parser->ArgRaw(1), ptrdiff_t(parser->ArgLen(1)),
                                 has_value ? parser->ArgRaw(2) : u"",
                                 has_value ? ptrdiff_t(parser->ArgLen(2)) : 0);
  if (result != kOk) Imp(parser)->FailNoMemory();
}

void ScfGetKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(2, 2)) return;
  const char16_t* value;
  size_t length;
  if (Imp(parser)->Lookup(parser->ArgRaw(1), parser->ArgLen(1), &value, &length))
    parser->OutN(value, ptrdiff_t(length));
}

void ScfIfKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(3, kScfAnyCount)) return;
  if (ValueOf(parser, 1) != 0) return parser->Run(parser->ArgRaw(2), ptrdiff_t(parser->ArgLen(2)));
  size_t count = parser->ArgCount();
  if (count == 3) return;
  if (parser->ArgLen(3) != 4 || AsciiCompareNoCase(parser->ArgRaw(3), 4, u"else", 4) != 0) {
    const char16_t* found = parser->Arg(3);
    parser->ErrF(u"ERROR SCF: Expecting \"else\" but found \"%s\".\n", found ? found : u"");
    parser->Exit(-1);
    return;
  }
  if (count == 4) return Report(parser, u"ERROR SCF: Missing else body.\n");
  if (count == 5) return parser->Run(parser->ArgRaw(4), ptrdiff_t(parser->ArgLen(4)));
  // More than one word after "else": they are dispatched as a statement of their own.
  Imp(parser)->SetChainIndex(4);
}

void ScfWhileKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(3, 3)) return;
  // The words stay put while the loop runs: nested statements only add words after them.
  const char16_t* condition = parser->ArgRaw(1);
  size_t condition_length = parser->ArgLen(1);
  const char16_t* body = parser->ArgRaw(2);
  ptrdiff_t body_length = ptrdiff_t(parser->ArgLen(2));
  while (Imp(parser)->EvaluateCondition(condition, condition_length) != 0)
    parser->Run(body, body_length);
}

void ScfNotKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(2, 2)) OutBool(parser, ValueOf(parser, 1) == 0);
}

void ScfLenKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(2, 2)) OutNumber(parser, int64_t(parser->ArgLen(1)), 0);
}

// Words 1 and 2 handed to a two-text routine of base/text.h.
template <typename Result>
Result OnWords1And2(scf_parser_i* parser,
                    Result (*routine)(const char16_t*, ptrdiff_t, const char16_t*, ptrdiff_t)) {
  return routine(parser->ArgRaw(1), ptrdiff_t(parser->ArgLen(1)), parser->ArgRaw(2),
                 ptrdiff_t(parser->ArgLen(2)));
}

void ScfCmpKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(3, 3)) OutOrder(parser, OnWords1And2(parser, CompareCodePoints));
}

void ScfAsciiCmpiKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(3, 3)) OutOrder(parser, OnWords1And2(parser, AsciiCompareNoCase));
}

void ScfGlobKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(3, 3)) OutBool(parser, OnWords1And2(parser, GlobMatch));
}

void ScfAsciiGlobiKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(3, 3)) OutBool(parser, OnWords1And2(parser, AsciiGlobMatchNoCase));
}

void ScfAsciiUpperKey::Execute(scf_parser_i* parser) { EmitMapped(parser, AsciiUpper, SIZE_MAX); }
void ScfAsciiLowerKey::Execute(scf_parser_i* parser) { EmitMapped(parser, AsciiLower, SIZE_MAX); }
void ScfAsciiUpper1Key::Execute(scf_parser_i* parser) { EmitMapped(parser, AsciiUpper, 1); }
void ScfAsciiLower1Key::Execute(scf_parser_i* parser) { EmitMapped(parser, AsciiLower, 1); }

void ScfBoolKey::Execute(scf_parser_i* parser) {
  if (parser->CheckArgs(3, 3)) OutBool(parser, Apply(ValueOf(parser, 1), ValueOf(parser, 2)));
}

void ScfEvalKey::Execute(scf_parser_i* parser) {
  if (!parser->CheckArgs(3, 3)) return;
  int64_t x = ValueOf(parser, 1);
  int64_t y = ValueOf(parser, 2);
  if (divides_ != Divides::kNo && y == 0) return Report(parser, u"ERROR SCF: Division by zero.\n");
  if (divides_ == Divides::kQuotient && y == -1 && x == INT64_MIN)
    return Report(parser, u"ERROR SCF: Division overflow.\n");
  OutNumber(parser, Apply(x, y), kFormSigned);
}

bool ScfEqKey::Apply(int64_t x, int64_t y) { return x == y; }
bool ScfNeqKey::Apply(int64_t x, int64_t y) { return x != y; }
bool ScfGtKey::Apply(int64_t x, int64_t y) { return x > y; }
bool ScfGteKey::Apply(int64_t x, int64_t y) { return x >= y; }
bool ScfLtKey::Apply(int64_t x, int64_t y) { return x < y; }
bool ScfLteKey::Apply(int64_t x, int64_t y) { return x <= y; }
bool ScfAndKey::Apply(int64_t x, int64_t y) { return x != 0 && y != 0; }
bool ScfOrKey::Apply(int64_t x, int64_t y) { return x != 0 || y != 0; }

// Arithmetic wraps: it is done on the unsigned twins of the operands.
int64_t ScfAddKey::Apply(int64_t x, int64_t y) { return int64_t(uint64_t(x) + uint64_t(y)); }
int64_t ScfSubKey::Apply(int64_t x, int64_t y) { return int64_t(uint64_t(x) - uint64_t(y)); }
int64_t ScfMulKey::Apply(int64_t x, int64_t y) { return int64_t(uint64_t(x) * uint64_t(y)); }
int64_t ScfDivKey::Apply(int64_t x, int64_t y) { return x / y; }
int64_t ScfModKey::Apply(int64_t x, int64_t y) { return y == -1 ? 0 : x % y; }

namespace {

ScfExitKey g_exit;
ScfOutKey g_out;
ScfErrKey g_err;
ScfParseKey g_parse;
ScfSetKey g_set;
ScfGetKey g_get;
ScfIfKey g_if;
ScfWhileKey g_while;
ScfNotKey g_not;
ScfLenKey g_len;
ScfCmpKey g_cmp;
ScfAsciiCmpiKey g_asciicmpi;
ScfGlobKey g_glob;
ScfAsciiGlobiKey g_asciiglobi;
ScfAsciiUpperKey g_asciiupper;
ScfAsciiLowerKey g_asciilower;
ScfAsciiUpper1Key g_asciiupper1;
ScfAsciiLower1Key g_asciilower1;
ScfEqKey g_eq;
ScfNeqKey g_neq;
ScfGtKey g_gt;
ScfGteKey g_gte;
ScfLtKey g_lt;
ScfLteKey g_lte;
ScfAddKey g_add;
ScfSubKey g_sub;
ScfMulKey g_mul;
ScfDivKey g_div;
ScfModKey g_mod;
ScfAndKey g_and;
ScfOrKey g_or;

struct Registration {
  const char16_t* name;
  scf_key_i* key;
};

const Registration kStandardCommands[] = {
    {u"exit", &g_exit},
    {u"out", &g_out},
    {u"err", &g_err},
    {u"parse", &g_parse},
    {u"set", &g_set},
    {u"get", &g_get},
    {u"if", &g_if},
    {u"while", &g_while},
    {u"!", &g_not},
    {u"len", &g_len},
    {u"cmp", &g_cmp},
    {u"asciicmpi", &g_asciicmpi},
    {u"glob", &g_glob},
    {u"asciiglobi", &g_asciiglobi},
    {u"asciiupper", &g_asciiupper},
    {u"asciilower", &g_asciilower},
    {u"asciiupper1", &g_asciiupper1},
    {u"asciilower1", &g_asciilower1},
    {u"=", &g_eq},
    {u"!=", &g_neq},
    {u"<>", &g_neq},
    {u">", &g_gt},
    {u">=", &g_gte},
    {u"<", &g_lt},
    {u"<=", &g_lte},
    {u"+", &g_add},
    {u"-", &g_sub},
    {u"*", &g_mul},
    {u"/", &g_div},
    {u"%", &g_mod},
    {u"&&", &g_and},
    {u"||", &g_or},
};

}  // namespace

err_t ScfAddStandardCommands(scf_parser_i* parser) {
  for (const Registration& command : kStandardCommands)
    if (err_t result = parser->AddCommand(command.name, command.key)) return result;
  return kOk;
}
