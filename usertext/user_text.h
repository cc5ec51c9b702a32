// The user-text table: every text the program shows is looked up here by identifier, with a
// built-in English default registered during static initialisation and replaceable by localised
// data (SCF text with `text` commands) at run time. A lookup substitutes the positional
// arguments %1 .. %9 and the texts of other identifiers, %(id), nested up to six levels.
//
// Identifiers match without regard to ASCII case; an unknown identifier shows as itself. With
// the environment variable TARNU_USERTEXTTESTMODE on when the table is made, every stored text
// reads "(identifier) text", so a tester can see where each text comes from.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/rbtree.h"
#include "scf/scf.h"

class malloc_i;
class UtOut;

// What a lookup gives when the table or the memory for its result is missing.
inline constexpr char16_t kUserTextError[] = u"usertext_error";

// Registers (or replaces) the default text of an identifier; returns the identifier, so a static
// initialiser can keep it as the handle for later lookups.
const char16_t* UserTextDefault(const char16_t* id, const char* default_utf8);
// Replaces the text of an identifier; returns the identifier.
const char16_t* UserTextSet(const char16_t* id, const char16_t* text);

// Has `load` run once, right before the table is first read or changed at run time (a lookup,
// UserTextSet, UserTextAddData, UserTextForEach), after the loads registered before it. Set-up
// that only a shown text needs, such as the system's number formats or localised data, costs
// nothing in a run that shows no text. Up to four loads wait; a fifth, or one registered once
// the table is in use, runs at once.
void UserTextOnFirstUse(void (*load)());

// Runs localised data (UTF-8, up to `length` bytes or its first NUL) as SCF text whose `text`
// commands replace entries; the variable `langid` holds `language`. Its output and errors go to
// `sink` line by line (null drops them). Returns the number of errors reported.
uint32_t UserTextAddData(UtOut* sink, const char16_t* language, const char* data, uint32_t length);

// The text of `id` with its % forms expanded: %1 .. %9 the arguments (a missing one shows the
// text of "missing_arg"), %(other) the expansion of another identifier, any other %c the unit
// c; a lone % at the end is dropped. The result is a pool string, a pointer into the table or a
// static text; read-only, valid while the pool lives and the entry is not replaced.
const char16_t* UserTextFormat(malloc_i* pool, const char16_t* id, uint32_t argc,
                               const char16_t* const* argv);
const char16_t* UserTextGet(malloc_i* pool, const char16_t* id);
const char16_t* UserTextGet1(malloc_i* pool, const char16_t* id, const char16_t* arg1);
const char16_t* UserTextGet2(malloc_i* pool, const char16_t* id, const char16_t* arg1,
                             const char16_t* arg2);

// Calls visit for every entry, in identifier order.
using UtVisitFn = void (*)(void* context, const char16_t* id, const char16_t* text);
void UserTextForEach(UtVisitFn visit, void* context);

struct UtEntryStore;

// One table. The program keeps one, made on first use; tests make their own.
class UtMap final : public scf_parser_output_i {
 public:
  // A table with an empty store, or null when memory runs out. test_mode non-zero prefixes every
  // text stored later with its identifier.
  static UtMap* Create(int32_t test_mode);
  // Drops the table's reference to its store (freeing the entries with the last one) and frees
  // the table.
  void Destroy();

  // The output of localised data: line by line to the current sink; err also counts.
  void out(const char16_t* text) override;
  void err(const char16_t* text) override;

  // Stores (or replaces) an entry; with no memory the previous entry stays.
  void Store(const char16_t* id, size_t id_length, const char16_t* text, size_t text_length);
  // The entry's text, or the identifier itself when there is none.
  const char16_t* Lookup(const char16_t* id) const;
  // limits null: the parser's defaults.
  uint32_t AddData(UtOut* sink, const char16_t* language, const char* data, uint32_t length,
                   const ScfLimits* limits = nullptr);
  const char16_t* Format(malloc_i* pool, const char16_t* id, uint32_t argc,
                         const char16_t* const* argv) const;
  void ForEach(UtVisitFn visit, void* context) const;

  // The `text` command: `text ID WORDS...` stores the words, joined by one blank, as the text
  // of ID.
  class ScfTextKey final : public scf_key_i {
   public:
    explicit ScfTextKey(UtMap* map) : map_(map) {}
    void Execute(scf_parser_i* parser) override;

   private:
    UtMap* map_;
  };

 private:
  template <typename T, typename... Args>
  friend T* HeapNew(Args&&... args);
  UtMap(UtEntryStore* store, int32_t test_mode);
  ~UtMap() = default;

  UtEntryStore* store_;
  int32_t test_mode_;
  UtOut* sink_ = nullptr;  // set only while AddData runs
  uint32_t error_count_ = 0;
  ScfTextKey text_key_;
};
