// The SCF reader and dispatcher. See scf/parser.h for the storage model.
#include "scf/parser.h"

#include <cstdarg>
#include <cstring>

#include "base/format.h"
#include "base/own.h"
#include "base/text.h"
#include "scf/commands.h"

namespace {

// A resize to count elements, null on overflow or failure (the old block then stays).
void* Reallocate(void* block, size_t count, size_t size) {
  size_t bytes;
  return count != 0 && ArrayBytes(count, size, &bytes) ? HeapResize(block, bytes) : nullptr;
}

template <typename T>
bool GrowArray(T** array, size_t* capacity, size_t count, size_t extra) {
  if (count < *capacity) return true;
  size_t wanted = *capacity + *capacity / 4 + extra;
  T* grown = static_cast<T*>(Reallocate(*array, wanted, sizeof(T)));
  if (!grown) return false;
  *array = grown;
  *capacity = wanted;
  return true;
}

char16_t* CopyText(const char16_t* text, size_t length) {
  return CopyText16(text, ptrdiff_t(length)).release();
}

size_t LengthOf(const char16_t* text, ptrdiff_t length) {
  if (!text) return 0;
  return length < 0 ? Utf16Length(text) : size_t(length);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == 0xFEFF; }

bool IsPlain(char16_t c) {
  return !IsBlank(c) && c != u'\n' && c != u';' && c != u'{' && c != u'}' && c != u'$';
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsNameChar(char16_t c) {
  return IsDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool SameName(const char16_t* a, size_t alen, const char16_t* b, size_t blen) {
  if (alen != blen) return false;
  for (size_t i = 0; i < alen; ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// "0" to "9", or 10 to 999 written without a leading zero.
bool ParsePositional(const char16_t* name, size_t length, size_t* index) {
  if (length == 0 || length > 3 || (length > 1 && name[0] == u'0')) return false;
  size_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (!IsDigit(name[i])) return false;
    value = value * 10 + (name[i] - u'0');
  }
  *index = value;
  return true;
}

// The matching close brace of the brace at `open`, counting every brace in between.
const char16_t* MatchBrace(const char16_t* open, const char16_t* end) {
  size_t depth = 0;
  for (const char16_t* p = open; p < end; ++p) {
    if (*p == u'{') {
      ++depth;
    } else if (*p == u'}' && --depth == 0) {
      return p;
    }
  }
  return nullptr;
}

// Units of a line break (LF or CR LF) at p, else 0.
size_t LineBreakLength(const char16_t* p, const char16_t* end) {
  if (p < end && *p == u'\n') return 1;
  if (end - p >= 2 && p[0] == u'\r' && p[1] == u'\n') return 2;
  return 0;
}

// What a "$" between words swallows so that a statement continues: a line break or one blank
// other than a lone carriage return.
size_t ContinuationLength(const char16_t* p, const char16_t* end) {
  if (p < end && (*p == u' ' || *p == u'\t' || *p == 0xFEFF)) return 1;
  return LineBreakLength(p, end);
}

// Makes the word own a terminated buffer with room for `units` of content.
bool Reserve(ScfWord* word, size_t units) {
  if (units >= SIZE_MAX / 2 - 16) return false;
  size_t needed = units + 1;
  if (word->buf && word->capacity >= needed) return true;
  size_t wanted = needed + needed / 2 + 10;
  auto* grown = static_cast<char16_t*>(Reallocate(word->buf, wanted, sizeof(char16_t)));
  if (!grown) return false;
  if (!word->buf && word->length) std::memcpy(grown, word->text, word->length * sizeof(char16_t));
  grown[word->length] = 0;
  word->buf = grown;
  word->text = grown;
  word->capacity = wanted;
  return true;
}

}  // namespace

ScfParserImp::ScfParserImp(scf_parser_output_i* output, const ScfLimits& limits)
    : output_(output), limits_(limits) {}

ScfParserImp::~ScfParserImp() {
  DropWords(&initial_frame_, 0);
  HeapFree(initial_frame_.words);
  DropVariables(0);
  HeapFree(variables_);
  HeapFree(commands_);
}

void ScfParserImp::Release() {
  this->~ScfParserImp();
  HeapFree(this);
}

// ---- output ----

ScfWord* ScfParserImp::Capture() {
  for (ScfFrame* frame = current_frame_; frame; frame = frame->enclosing)
    if (frame->capture) return frame->capture;
  return nullptr;
}

void ScfParserImp::Out(const char16_t* text) {
  if (ScfWord* capture = Capture()) {
    AppendCopy(capture, text, LengthOf(text, -1));
  } else if (output_) {
    output_->out(text ? text : u"");
  }
}

void ScfParserImp::OutN(const char16_t* text, ptrdiff_t count) {
  size_t length = LengthOf(text, count);
  if (ScfWord* capture = Capture()) {
    AppendCopy(capture, text, length);
    return;
  }
  if (!output_) return;
  char16_t local[256];
  char16_t* copy = length < 256 ? local : CopyText(text, length);
  if (!copy) return FailNoMemory();
  if (copy == local) {
    if (length) std::memcpy(local, text, length * sizeof(char16_t));
    local[length] = 0;
  }
  output_->out(copy);
  if (copy != local) HeapFree(copy);
}

void ScfParserImp::EmitFormatted(bool to_err, const char16_t* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char16_t local[100];
  size_t length = TextFormatV(local, 100, format, args);
  char16_t* text = local;
  if (length >= 100) {
    text = static_cast<char16_t*>(Reallocate(nullptr, length + 1, sizeof(char16_t)));
    if (text) TextFormatV(text, length + 1, format, again);
  }
  va_end(again);
  if (!text) return FailNoMemory();
  to_err ? Err(text) : Out(text);
  if (text != local) HeapFree(text);
}

void ScfParserImp::OutF(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  EmitFormatted(false, format, args);
  va_end(args);
}

void ScfParserImp::Err(const char16_t* text) {
  if (output_) output_->err(text ? text : u"");
}

void ScfParserImp::ErrF(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  EmitFormatted(true, format, args);
  va_end(args);
}

void ScfParserImp::FailNoMemory() {
  Err(u"ERROR SCF: Out of memory.\n");
  Exit(-1);
}

// ---- commands and arguments ----

err_t ScfParserImp::AddCommand(const char16_t* name, scf_key_i* command) {
  if (!name || !command) return kErrInvalidParameter;
  if (!GrowArray(&commands_, &command_capacity_, command_count_, 5)) return kErrOutOfMemory;
  commands_[command_count_++] = {name, Utf16Length(name), command};
  return kOk;
}

bool ScfParserImp::CheckArgs(size_t minimum, size_t maximum) {
  size_t count = ArgCount();
  if (count >= minimum && count <= maximum) return true;
  const char16_t* name = Arg(0);
  ErrF(count < minimum ? u"ERROR SCF: Too few arguments specified for %s command.\n"
                       : u"ERROR SCF: Too many arguments specified for %s command.\n",
       name ? name : u"");
  Exit(-1);
  return false;
}

ScfWord* ScfParserImp::CurrentWord(size_t index) {
  ScfFrame* frame = current_frame_;
  if (index >= frame->word_count - frame->base) return nullptr;
  return &frame->words[frame->base + index];
}

size_t ScfParserImp::ArgCount() { return current_frame_->word_count - current_frame_->base; }

static const char16_t* TerminatedText(ScfWord* word) {
  if (!word) return nullptr;
  if (word->buf) return word->buf;
  if (word->length == 0) return u"";
  return Reserve(word, word->length) ? word->buf : nullptr;
}

const char16_t* ScfParserImp::Arg(size_t index) { return TerminatedText(CurrentWord(index)); }

const char16_t* ScfParserImp::ArgRaw(size_t index) {
  ScfWord* word = CurrentWord(index);
  if (!word) return nullptr;
  return word->text ? word->text : u"";
}

size_t ScfParserImp::ArgLen(size_t index) {
  ScfWord* word = CurrentWord(index);
  return word ? word->length : 0;
}

// ---- variables ----

// Word N of the statement that the enclosing frame is executing (the procedure call).
ScfWord* ScfParserImp::PositionalWord(const char16_t* name, size_t length) {
  size_t index;
  ScfFrame* caller = current_frame_->enclosing;
  if (!ParsePositional(name, length, &index) || !caller) return nullptr;
  if (index >= caller->word_count - caller->base) return nullptr;
  return &caller->words[caller->base + index];
}

bool ScfParserImp::Lookup(const char16_t* name, size_t length, const char16_t** value,
                          size_t* value_length) {
  size_t index;
  if (ParsePositional(name, length, &index)) {
    ScfWord* word = PositionalWord(name, length);
    if (!word) return false;
    *value = word->text ? word->text : u"";
    *value_length = word->length;
    return true;
  }
  for (size_t i = variable_count_; i-- > 0;) {
    const Variable& v = variables_[i];
    if (SameName(v.name, v.name_length, name, length)) {
      *value = v.value;
      *value_length = v.value_length;
      return true;
    }
  }
  return false;
}

const char16_t* ScfParserImp::GetVar(const char16_t* name) {
  size_t length = LengthOf(name, -1);
  size_t index;
  if (ParsePositional(name, length, &index)) return TerminatedText(PositionalWord(name, length));
  const char16_t* value;
  size_t value_length;
  return Lookup(name, length, &value, &value_length) ? value : nullptr;
}

err_t ScfParserImp::SetVar(const char16_t* name, const char16_t* value) {
  return SetVarN(name, -1, value, -1);
}

err_t ScfParserImp::SetVarN(const char16_t* name, ptrdiff_t name_length, const char16_t* value,
                            ptrdiff_t value_length) {
  size_t nlen = LengthOf(name, name_length);
  size_t vlen = LengthOf(value, value_length);
  // Copy the value first: it may be the old value of the very variable being replaced.
  char16_t* value_copy = CopyText(value, vlen);
  if (!value_copy) return kErrOutOfMemory;

  char16_t* name_text = nullptr;
  for (size_t i = variable_count_; i-- > current_frame_->scope_start;) {
    if (!SameName(variables_[i].name, variables_[i].name_length, name, nlen)) continue;
    name_text = variables_[i].name;
    HeapFree(variables_[i].value);
    std::memmove(&variables_[i], &variables_[i + 1], (variable_count_ - i - 1) * sizeof(Variable));
    --variable_count_;
    break;
  }
  if (!name_text) {
    name_text = CopyText(name, nlen);
    if (!name_text || !GrowArray(&variables_, &variable_capacity_, variable_count_, 5)) {
      HeapFree(name_text);
      HeapFree(value_copy);
      return kErrOutOfMemory;
    }
  }
  variables_[variable_count_++] = {name_text, nlen, value_copy, vlen};
  return kOk;
}

void ScfParserImp::DropVariables(size_t from) {
  while (variable_count_ > from) {
    Variable& v = variables_[--variable_count_];
    HeapFree(v.name);
    HeapFree(v.value);
  }
}

// ---- exit state, Run and Parse ----

void ScfParserImp::Exit(int32_t value) {
  exit_flag_ = true;
  exit_value_ = value;
}

bool ScfParserImp::ExitState(int32_t* value) {
  if (value) *value = exit_value_;
  return exit_flag_;
}

void ScfParserImp::Run(const char16_t* text, ptrdiff_t length) {
  ReadStatements(text, LengthOf(text, length), nullptr);
}

int32_t ScfParserImp::Parse(const char16_t* text, ptrdiff_t length) {
  ScfFrame frame = {};
  frame.enclosing = current_frame_;
  frame.scope_start = variable_count_;
  current_frame_ = &frame;
  ReadStatements(text, LengthOf(text, length), nullptr);
  current_frame_ = frame.enclosing;
  DropWords(&frame, 0);
  HeapFree(frame.words);
  DropVariables(frame.scope_start);
  int32_t result = exit_value_;
  exit_value_ = 0;
  exit_flag_ = false;
  return result;
}

int64_t ScfParserImp::EvaluateCondition(const char16_t* text, size_t length) {
  ScfWord captured = {};
  ReadStatements(text, length, &captured);
  int64_t value =
      exit_flag_ ? 0 : ParseNumberOrBool(captured.text ? captured.text : u"", captured.length);
  HeapFree(captured.buf);
  return value;
}

// ---- words ----

bool ScfParserImp::AppendCopy(ScfWord* word, const char16_t* text, size_t length) {
  if (length == 0) return true;
  if (length > limits_.max_text || word->length > limits_.max_text - length) {
    Err(u"ERROR SCF: Text too long.\n");
    Exit(-1);
    return false;
  }
  // The text may lie in the word's own buffer, which Reserve can move.
  bool inside = word->buf && text >= word->buf && text < word->buf + word->capacity;
  size_t offset = inside ? size_t(text - word->buf) : 0;
  if (!Reserve(word, word->length + length)) {
    FailNoMemory();
    return false;
  }
  if (inside) text = word->buf + offset;
  std::memmove(word->buf + word->length, text, length * sizeof(char16_t));
  word->length += length;
  word->buf[word->length] = 0;
  return true;
}

// A word that is one unchanged slice of the source only references it.
bool ScfParserImp::AppendSlice(ScfWord* word, const char16_t* text, size_t length) {
  if (length == 0) return true;
  if (!word->buf) {
    if (word->length == 0) {
      word->text = text;
      word->length = length;
      return true;
    }
    if (word->text + word->length == text) {
      word->length += length;
      return true;
    }
  }
  return AppendCopy(word, text, length);
}

bool ScfParserImp::PushWord(ScfFrame* frame, const ScfWord& word) {
  if (!GrowArray(&frame->words, &frame->word_capacity, frame->word_count, 4)) {
    FailNoMemory();
    return false;
  }
  frame->words[frame->word_count++] = word;
  return true;
}

void ScfParserImp::DropWords(ScfFrame* frame, size_t from) {
  while (frame->word_count > from) HeapFree(frame->words[--frame->word_count].buf);
}

// ---- reading ----

bool ScfParserImp::EnterLevel() {
  if (depth_ == 0) {
    statements_ = 0;
    budget_reported_ = false;
  }
  if (depth_ >= limits_.max_depth) {
    Err(u"ERROR SCF: Nesting too deep.\n");
    Exit(-1);
    return false;
  }
  ++depth_;
  return true;
}

void ScfParserImp::ReadStatements(const char16_t* text, size_t length, ScfWord* capture) {
  if (exit_flag_ || !EnterLevel()) return;
  ScfFrame* frame = current_frame_;
  size_t saved_base = frame->base;
  ScfWord* saved_capture = frame->capture;
  frame->base = frame->word_count;
  if (capture) frame->capture = capture;

  const char16_t* p = text;
  const char16_t* end = text + length;
  while (p < end && !exit_flag_) {
    if (IsBlank(*p) || *p == u'\n') {
      ++p;
    } else if (*p == u'#') {
      while (p < end && *p++ != u'\n') {
      }
    } else {
      p = ReadStatement(p, end);
    }
  }

  frame->base = saved_base;
  frame->capture = saved_capture;
  --depth_;
}

const char16_t* ScfParserImp::ReadStatement(const char16_t* p, const char16_t* end) {
  ScfFrame* frame = current_frame_;
  while (p < end) {
    char16_t c = *p;
    if (c == u'\n' || c == u';') {
      ++p;
      break;
    }
    if (IsBlank(c)) {
      ++p;
      continue;
    }
    if (c == u'$') {
      if (size_t skip = ContinuationLength(p + 1, end)) {
        p += 1 + skip;
        continue;
      }
    }
    ScfWord word = {};
    bool ends_statement = false;
    p = ReadWord(p, end, &word, &ends_statement);
    if (exit_flag_ || !PushWord(frame, word)) {
      HeapFree(word.buf);
      break;
    }
    if (ends_statement) break;
  }
  if (!exit_flag_) Dispatch();
  DropWords(frame, frame->base);
  return p;
}

const char16_t* ScfParserImp::ReadWord(const char16_t* p, const char16_t* end, ScfWord* word,
                                       bool* ends_statement) {
  while (p < end) {
    char16_t c = *p;
    if (IsBlank(c)) return p + 1;
    if (c == u'\n' || c == u';') {
      *ends_statement = true;
      return p + 1;
    }
    if (c == u'{') {
      p = ReadBraced(p, end, word, 0);
    } else if (c == u'}') {
      Err(u"ERROR SCF: Unmatched close brace.\n");
      Exit(-1);
    } else if (c == u'$') {
      p = ReadDollar(p, end, word);
    } else {
      const char16_t* run = p;
      while (p < end && IsPlain(*p)) ++p;
      AppendSlice(word, run, size_t(p - run));
    }
    if (exit_flag_) return end;
  }
  return p;
}

// Appends the text inside the braces at `open`, less `skip` leading units; returns what follows
// the closing brace.
const char16_t* ScfParserImp::ReadBraced(const char16_t* open, const char16_t* end, ScfWord* word,
                                         size_t skip) {
  const char16_t* close = MatchBrace(open, end);
  if (!close) {
    Err(u"ERROR SCF: Unmatched open brace.\n");
    Exit(-1);
    return end;
  }
  const char16_t* inner = open + 1 + skip;
  AppendSlice(word, inner, size_t(close - inner));
  return close + 1;
}

const char16_t* ScfParserImp::ReadDollar(const char16_t* p, const char16_t* end, ScfWord* word) {
  const char16_t* q = p + 1;
  if (q < end) {
    switch (*q) {
      case u'{': {
        const char16_t* close = MatchBrace(q, end);
        if (!close) {
          Err(u"ERROR SCF: Unmatched open brace.\n");
          Exit(-1);
          return end;
        }
        ReadStatements(q + 1, size_t(close - q - 1), word);
        return close + 1;
      }
      case u'(': AppendCopy(word, u"{", 1); return q + 1;
      case u')': AppendCopy(word, u"}", 1); return q + 1;
      case u'-':
        if (end - q >= 2 && q[1] == u'{') {
          if (size_t line_break = LineBreakLength(q + 2, end))
            return ReadBraced(q + 1, end, word, line_break);
        }
        break;
      default:
        if (size_t line_break = LineBreakLength(q, end)) return q + line_break;
        break;
    }
  }
  const char16_t* name = q;
  while (q < end && IsNameChar(*q)) ++q;
  const char16_t* value;
  size_t value_length;
  if (Lookup(name, size_t(q - name), &value, &value_length)) AppendCopy(word, value, value_length);
  return q;
}

// ---- dispatch ----

bool ScfParserImp::CountStatement() {
  if (++statements_ <= limits_.max_statements) return true;
  if (!budget_reported_) {
    budget_reported_ = true;
    Err(u"ERROR SCF: Too many statements.\n");
  }
  Exit(-1);
  return false;
}

void ScfParserImp::Dispatch() {
  ScfFrame* frame = current_frame_;
  size_t saved_base = frame->base;
  chain_index_ = 0;
  while (chain_index_ >= 0 && size_t(chain_index_) < frame->word_count - frame->base) {
    frame->base += size_t(chain_index_);
    chain_index_ = -1;
    if (frame->word_count == frame->base || !CountStatement()) break;
    DispatchWord0();
    if (exit_flag_) break;
  }
  chain_index_ = -1;
  frame->base = saved_base;
}

void ScfParserImp::DispatchWord0() {
  const ScfWord& first = current_frame_->words[current_frame_->base];
  const char16_t* name = first.text;
  size_t length = first.length;
  for (size_t i = command_count_; i-- > 0;) {
    if (!SameName(commands_[i].name, commands_[i].name_length, name, length)) continue;
    size_t registered = command_count_;
    commands_[i].key->Execute(this);
    if (command_count_ > registered) command_count_ = registered;
    return;
  }
  const char16_t* body;
  size_t body_length;
  if (Lookup(name, length, &body, &body_length)) {
    if (int32_t result = Parse(body, ptrdiff_t(body_length))) Exit(result);
    return;
  }
  const char16_t* written = Arg(0);
  ErrF(u"ERROR SCF: Unknown command \"%s\".\n", written ? written : u"");
  Exit(-1);
}

// ---- creation ----

err_t CreateScfParser(scf_parser_output_i* output, const char16_t* const* initial_variables,
                      scf_parser_i** parser, const ScfLimits* limits) {
  if (!parser) return kErrInvalidParameter;
  *parser = nullptr;
  auto* created = HeapNew<ScfParserImp>(output, limits ? *limits : kScfDefaultLimits);
  if (!created) return kErrOutOfMemory;
  err_t result = kOk;
  for (const char16_t* const* entry = initial_variables; entry && *entry && result == kOk;
       ++entry) {
    const char16_t* text = *entry;
    size_t length = Utf16Length(text);
    size_t equals = 1;  // a leading "=" belongs to the name
    while (equals < length && text[equals] != u'=') ++equals;
    if (equals >= length)
      result = created->SetVarN(text, ptrdiff_t(length), u"", 0);
    else
      result = created->SetVarN(text, ptrdiff_t(equals), text + equals + 1,
                                ptrdiff_t(length - equals - 1));
  }
  if (result == kOk) result = ScfAddStandardCommands(created);
  if (result != kOk) {
    created->Release();
    return result;
  }
  *parser = created;
  return kOk;
}

err_t ScfRunUtf8(scf_parser_output_i* output, const char* script, size_t length,
                 int32_t* exit_value, const ScfLimits* limits) {
  if (!exit_value) return kErrInvalidParameter;
  *exit_value = 0;
  if (!script) length = 0;
  ptrdiff_t bytes = ptrdiff_t(length);
  size_t units = length ? Utf8ToUtf16(nullptr, 0, script, bytes) : 0;
  auto* text = static_cast<char16_t*>(Reallocate(nullptr, units + 1, sizeof(char16_t)));
  if (!text) return kErrOutOfMemory;
  text[0] = 0;
  if (units) Utf8ToUtf16(text, units + 1, script, bytes);
  scf_parser_i* parser = nullptr;
  err_t result = CreateScfParser(output, nullptr, &parser, limits);
  if (result == kOk) {
    *exit_value = parser->Parse(text, ptrdiff_t(units));
    parser->Release();
  }
  HeapFree(text);
  return result;
}
