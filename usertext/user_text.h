// The user-text table: every text the program shows is looked up here by identifier, with a
// built-in English default registered during static initialisation and replaceable by
// localised data at run time. A lookup substitutes the positional arguments %1 .. %9.
//
// Identifiers match without regard to ASCII case; an unknown identifier shows as itself.
// This first version keeps a small fixed table and does not yet run localised data.
#pragma once
#include <cstdint>

class malloc_i;
class UtOut;

// Registers (or replaces) the default text of an identifier; returns the identifier, so a
// static initialiser can keep it as the handle for later lookups.
const char16_t* UserTextDefault(const char16_t* id, const char* default_utf8);
// Replaces the text of an identifier; returns the identifier.
const char16_t* UserTextSet(const char16_t* id, const char16_t* text);

// Adds localised data (UTF-8, at most `length` bytes or up to a NUL) for the given language;
// returns the number of errors the data produced. Output goes to `sink` (null drops it).
uint32_t UserTextAddData(UtOut* sink, const char16_t* language, const char* data, uint32_t length);

// The text of `id` with %1 .. %9 replaced by the arguments ("%%" gives "%"). The result is a
// pool string or a pointer into the table; read-only, valid while the pool lives.
const char16_t* UserTextFormat(malloc_i* pool, const char16_t* id, uint32_t argc,
                               const char16_t* const* argv);
const char16_t* UserTextGet(malloc_i* pool, const char16_t* id);
const char16_t* UserTextGet1(malloc_i* pool, const char16_t* id, const char16_t* arg1);
const char16_t* UserTextGet2(malloc_i* pool, const char16_t* id, const char16_t* arg1,
                             const char16_t* arg2);

// Handles of the locale texts (number and time separators).
extern const char16_t* const kUtLocaleDecimal;
extern const char16_t* const kUtLocaleNegFormat;
extern const char16_t* const kUtLocaleThousGrouping;
extern const char16_t* const kUtLocaleThousSep;
extern const char16_t* const kUtLocaleTimeSep;
