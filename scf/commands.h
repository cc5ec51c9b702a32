// The standard SCF commands that every parser starts with: output, variables, control flow,
// string tests and case mapping, comparison, logic and 64-bit wrapping arithmetic.
//
// Each command is one stateless object shared by every parser. Values are read with
// ParseNumberOrBool (so "yes" is 1 and "0x10" is 16); results are emitted with Out, so a
// command's value becomes part of the word when it runs inside `${...}`. The commands run on
// ScfParserImp (the only parser CreateScfParser makes).
#pragma once
#include <cstdint>

#include "scf/scf.h"

#define SCF_PLAIN_KEY(name)                      \
  class name final : public scf_key_i {          \
   public:                                       \
    void Execute(scf_parser_i* parser) override; \
  }

SCF_PLAIN_KEY(ScfExitKey);
SCF_PLAIN_KEY(ScfOutKey);
SCF_PLAIN_KEY(ScfErrKey);
SCF_PLAIN_KEY(ScfParseKey);
SCF_PLAIN_KEY(ScfSetKey);
SCF_PLAIN_KEY(ScfGetKey);
SCF_PLAIN_KEY(ScfIfKey);
SCF_PLAIN_KEY(ScfWhileKey);
SCF_PLAIN_KEY(ScfNotKey);
SCF_PLAIN_KEY(ScfLenKey);
SCF_PLAIN_KEY(ScfCmpKey);
SCF_PLAIN_KEY(ScfAsciiCmpiKey);
SCF_PLAIN_KEY(ScfGlobKey);
SCF_PLAIN_KEY(ScfAsciiGlobiKey);
SCF_PLAIN_KEY(ScfAsciiUpperKey);
SCF_PLAIN_KEY(ScfAsciiLowerKey);
SCF_PLAIN_KEY(ScfAsciiUpper1Key);
SCF_PLAIN_KEY(ScfAsciiLower1Key);
#undef SCF_PLAIN_KEY

// Comparisons and logic: two values in, "1" or "0" out.
class ScfBoolKey : public scf_key_i {
 public:
  void Execute(scf_parser_i* parser) override;
  virtual bool Apply(int64_t x, int64_t y) = 0;

 protected:
  ~ScfBoolKey() = default;
};

// Arithmetic: two values in, a signed decimal out.
class ScfEvalKey : public scf_key_i {
 public:
  void Execute(scf_parser_i* parser) override;
  virtual int64_t Apply(int64_t x, int64_t y) = 0;

 protected:
  // Which operand pairs Apply must never see: a zero divisor (quotient and remainder), and
  // INT64_MIN / -1 (quotient only; that remainder is simply 0).
  enum class Divides : uint8_t { kNo, kRemainder, kQuotient };
  constexpr explicit ScfEvalKey(Divides divides = Divides::kNo) : divides_(divides) {}
  ~ScfEvalKey() = default;

 private:
  const Divides divides_;
};

#define SCF_APPLY_KEY(name, base, result)        \
  class name final : public base {               \
   public:                                       \
    result Apply(int64_t x, int64_t y) override; \
  }

SCF_APPLY_KEY(ScfEqKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfNeqKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfGtKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfGteKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfLtKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfLteKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfAndKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfOrKey, ScfBoolKey, bool);
SCF_APPLY_KEY(ScfAddKey, ScfEvalKey, int64_t);
SCF_APPLY_KEY(ScfSubKey, ScfEvalKey, int64_t);
SCF_APPLY_KEY(ScfMulKey, ScfEvalKey, int64_t);
#undef SCF_APPLY_KEY

class ScfDivKey final : public ScfEvalKey {
 public:
  constexpr ScfDivKey() : ScfEvalKey(Divides::kQuotient) {}
  int64_t Apply(int64_t x, int64_t y) override;
};

class ScfModKey final : public ScfEvalKey {
 public:
  constexpr ScfModKey() : ScfEvalKey(Divides::kRemainder) {}
  int64_t Apply(int64_t x, int64_t y) override;
};

// Registers the standard commands on a parser, in their fixed order.
err_t ScfAddStandardCommands(scf_parser_i* parser);
