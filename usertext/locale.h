// Locale-aware formatting: the five locale entries of the user-text table (separators and the
// negative form), filled from the user's system locale before the program's entry point runs,
// and the elapsed-time formatter built on them. Localised data may replace the entries later.
#pragma once
#include <cstddef>
#include <cstdint>

class malloc_i;

// Handles of the locale entries, registered with their built-in defaults.
extern const char16_t* const kUtLocaleDecimal;        // "."
extern const char16_t* const kUtLocaleNegFormat;      // "-%1", %1 being the magnitude
extern const char16_t* const kUtLocaleThousGrouping;  // "3;0"
extern const char16_t* const kUtLocaleThousSep;       // ","
extern const char16_t* const kUtLocaleTimeSep;        // ":"

// A duration in 100-nanosecond units as hours (not wrapped into days), minutes, seconds and
// milliseconds: "1:02:03.004" with the defaults. A negative duration is its magnitude put into
// the negative form. The text is allocated from the pool.
const char16_t* FormatElapsedTime(malloc_i* pool, int64_t duration);

// The settings the locale set-up reads from the system.
enum class UtLocaleItem {
  kNegativeSign,    // text; its first unit is the sign
  kNegativeNumber,  // number: the negative pattern 0..4
  kThousandSep,     // text; first unit
  kGrouping,        // text in the "3;0" notation
  kDecimal,         // text; first unit
  kTimeSep,         // text; first unit
};

// Where the set-up reads the settings from: the system, or a test's stand-in. Each returns false
// when the setting can't be read, which leaves its entry as it is.
struct UtLocaleSource {
  bool (*text)(UtLocaleItem item, char16_t* buffer, size_t capacity);
  bool (*number)(UtLocaleItem item, uint32_t* value);
};

// Stores the source's settings into the locale entries. The program runs it once, during
// static initialisation, with the system's settings.
void ApplyLocaleSettings(const UtLocaleSource& source);

// Helpers for systems that describe a locale the POSIX way.
// Grouping as byte counts (each the size of the next group leftwards, the last repeated unless
// the list ends with CHAR_MAX) -> the "3;0" notation. False for an empty list (no grouping).
bool GroupingFromByteCounts(const char* counts, char16_t* out, size_t capacity);
// Where the separator starts that a time format such as "%H:%M:%S" puts after its hours or
// minutes; null when the format shows none.
const char* TimeSeparatorInFormat(const char* format);
