// ScfParserImp: the SCF reader, its variables, frames and dispatch.
//
// Words reference the source text until something is appended to them or a terminated text is
// asked for; only then are they copied into a buffer of their own. Each Parse gets a frame on
// the C++ stack holding its words; Run and `${...}` reuse the current frame, starting their
// statements after the words of the statement being executed. The standard commands (scf/
// commands.cpp) run on this class and use the two operations below the interface.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "scf/scf.h"

struct ScfWord {
  const char16_t* text;  // the content: a slice of the source, or buf
  char16_t* buf;         // owned and NUL-terminated, or null while the word is a slice
  size_t length;
  size_t capacity;  // units in buf
};

struct ScfFrame {
  ScfFrame* enclosing;
  size_t scope_start;  // variable count when the frame was made
  size_t base;         // first word of the statement being executed
  size_t word_count;
  size_t word_capacity;
  ScfWord* words;
  ScfWord* capture;  // receives output while set
};

class ScfParserImp final : public scf_parser_i {
 public:
  ScfParserImp(scf_parser_output_i* output, const ScfLimits& limits);
  ScfParserImp(const ScfParserImp&) = delete;
  ScfParserImp& operator=(const ScfParserImp&) = delete;

  void Release() override;
  void Out(const char16_t* text) override;
  void OutN(const char16_t* text, ptrdiff_t count) override;
  void OutF(const char16_t* format, ...) override;
  void Err(const char16_t* text) override;
  void ErrF(const char16_t* format, ...) override;
  err_t AddCommand(const char16_t* name, scf_key_i* command) override;
  bool CheckArgs(size_t minimum, size_t maximum) override;
  size_t ArgCount() override;
  const char16_t* Arg(size_t index) override;
  const char16_t* ArgRaw(size_t index) override;
  size_t ArgLen(size_t index) override;
  const char16_t* GetVar(const char16_t* name) override;
  err_t SetVar(const char16_t* name, const char16_t* value) override;
  err_t SetVarN(const char16_t* name, ptrdiff_t name_length, const char16_t* value,
                ptrdiff_t value_length) override;
  void Exit(int32_t value) override;
  bool ExitState(int32_t* value) override;
  void Run(const char16_t* text, ptrdiff_t length) override;
  int32_t Parse(const char16_t* text, ptrdiff_t length) override;

  // Makes the statement's words from `index` on be dispatched as a statement of their own once
  // the running command returns (the else branch of `if`).
  void SetChainIndex(int32_t index) { chain_index_ = index; }
  // Runs text in the current frame and scope, capturing its output, and reads the output as a
  // number or boolean (0 when nothing was emitted or the parse was ended).
  int64_t EvaluateCondition(const char16_t* text, size_t length);
  // Reports that memory for a text ran out and ends the parse with -1.
  void FailNoMemory();
  // The value of a variable or positional word, as a `$` reference reads it.
  bool Lookup(const char16_t* name, size_t length, const char16_t** value, size_t* value_length);

 private:
  struct Variable {
    char16_t* name;
    size_t name_length;
    char16_t* value;
    size_t value_length;
  };
  struct Command {
    const char16_t* name;
    size_t name_length;
    scf_key_i* key;
  };

  ~ScfParserImp();

  void ReadStatements(const char16_t* text, size_t length, ScfWord* capture);
  const char16_t* ReadStatement(const char16_t* p, const char16_t* end);
  const char16_t* ReadWord(const char16_t* p, const char16_t* end, ScfWord* word,
                           bool* ends_statement);
  const char16_t* ReadDollar(const char16_t* p, const char16_t* end, ScfWord* word);
  const char16_t* ReadBraced(const char16_t* open, const char16_t* end, ScfWord* word, size_t skip);
  void Dispatch();
  void DispatchWord0();
  bool EnterLevel();
  bool CountStatement();

  ScfWord* PositionalWord(const char16_t* name, size_t length);
  ScfWord* CurrentWord(size_t index);
  ScfWord* Capture();
  bool AppendSlice(ScfWord* word, const char16_t* text, size_t length);
  bool AppendCopy(ScfWord* word, const char16_t* text, size_t length);
  bool PushWord(ScfFrame* frame, const ScfWord& word);
  void DropWords(ScfFrame* frame, size_t from);
  void DropVariables(size_t from);
  void EmitFormatted(bool to_err, const char16_t* format, va_list args);

  scf_parser_output_i* output_;
  size_t variable_count_ = 0;
  size_t variable_capacity_ = 0;
  Variable* variables_ = nullptr;
  size_t command_count_ = 0;
  size_t command_capacity_ = 0;
  Command* commands_ = nullptr;
  ScfFrame initial_frame_ = {};
  ScfFrame* current_frame_ = &initial_frame_;
  bool exit_flag_ = false;
  int32_t exit_value_ = 0;
  int32_t chain_index_ = -1;

  ScfLimits limits_;
  uint32_t depth_ = 0;
  uint64_t statements_ = 0;
  bool budget_reported_ = false;
};
