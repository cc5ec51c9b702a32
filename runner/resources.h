// The runner's embedded resources: short text options (type "option"), LZMA-compressed blobs
// (type "lzmafile") and, from the "usertext" blob, the localised user texts.
//
// Nothing here fails the run: a missing or damaged resource yields nothing and the caller keeps
// its defaults. Names are UTF-16 and match without regard to case.
#pragma once
#include <cstddef>
#include <cstdint>

class malloc_i;

// The bytes of a resource of the program's own module (read-only, valid for the life of the
// process), or null with *size 0 when it is missing, empty, or type or name is null.
const uint8_t* find_resource(const char16_t* type, const char16_t* name, uint32_t* size);

// The text of option `name` as a pool string; empty when the option is missing, null only when
// the pool fails.
char16_t* read_option_text(malloc_i* pool, const char16_t* name);
// Sets *flag to whether the option's value is non-zero; leaves it unchanged when the option is
// missing or empty.
void read_option_bool(const char16_t* name, bool* flag);
// The decoded bytes of LZMA blob `name` in a pool buffer followed by four zero bytes; null on
// any failure. *length is the decoded length; on failure 0, except that rejected properties and
// a declared size of exactly 0x7FFFFFFF report the declared size.
uint8_t* read_lzma_blob(malloc_i* pool, const char16_t* name, uint32_t* length);
// Loads the "usertext" blob into the user-text table for the user's language.
void load_user_text();
// The same load, left until the table is first used: a run that shows no text does not decode
// the blob.
void load_user_text_on_first_use();

// The pieces above, over bytes already in hand.
// Option text: UTF-16LE, size / 2 units, ending early at a NUL.
char16_t* decode_option_text(malloc_i* pool, const uint8_t* bytes, uint32_t size);
uint8_t* decode_lzma_blob(malloc_i* pool, const uint8_t* bytes, uint32_t size, uint32_t* length);

// The user's language as a three-letter name ("ENU", "DEU"), read once per process.
const char16_t* user_language_name();
// Reads it afresh: Windows' registry value, or the locale of the environment on Linux.
inline constexpr size_t kLanguageNameMax = 99;
void read_user_language(char16_t out[kLanguageNameMax + 1]);
// Maps a POSIX locale name ("de_DE.UTF-8", "pt_BR", "C") to a language name, "ENU" when the
// language is not known. Writes at most 3 units and a terminator to out[4].
void language_name_from_locale(const char* locale, char16_t out[4]);
