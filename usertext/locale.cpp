#include "usertext/locale.h"

#include "base/format.h"
#include "base/pool.h"
#include "base/text.h"
#include "usertext/locale_os.h"
#include "usertext/user_text.h"

// The defaults are registered before the set-up at the end of this file replaces them with the
// system's settings: initialisers of one file run in the order they are written.
const char16_t* const kUtLocaleDecimal = UserTextDefault(u"locale_decimal", ".");
const char16_t* const kUtLocaleNegFormat = UserTextDefault(u"locale_neg_format", "-%1");
const char16_t* const kUtLocaleThousGrouping = UserTextDefault(u"locale_thous_grouping", "3;0");
const char16_t* const kUtLocaleThousSep = UserTextDefault(u"locale_thous_sep", ",");
const char16_t* const kUtLocaleTimeSep = UserTextDefault(u"locale_time_sep", ":");

namespace {

constexpr size_t kQueryUnits = 50;
constexpr size_t kGroupingUnits = 49;
constexpr size_t kElapsedUnits = 100;
constexpr uint64_t kTicksPerMillisecond = 10000;

// The negative patterns, by the system's number for them; 1 is the default "-%1".
constexpr const char16_t* NegativePattern(uint32_t number) {
  switch (number) {
    case 0: return u"(%%1)";
    case 2: return u"%s %%1";
    case 3: return u"%%1%s";
    case 4: return u"%%1 %s";
    default: return nullptr;
  }
}

void SetNegativeFormat(const UtLocaleSource& source) {
  char16_t sign[2] = {u'-', 0};
  char16_t buffer[kQueryUnits] = {};
  if (source.text(UtLocaleItem::kNegativeSign, buffer, kQueryUnits) && buffer[0])
    sign[0] = buffer[0];
  uint32_t number = 1;
  if (!source.number(UtLocaleItem::kNegativeNumber, &number)) number = 1;
  const char16_t* pattern = NegativePattern(number);
  if (!pattern) return;
  TextFormat(buffer, kQueryUnits, pattern, sign);
  UserTextSet(kUtLocaleNegFormat, buffer);
}

// Stores the setting's first unit, or its first `keep` units.
void SetFromSystem(const UtLocaleSource& source, UtLocaleItem item, const char16_t* id,
                   size_t keep) {
  char16_t buffer[kQueryUnits] = {};
  if (!source.text(item, buffer, kQueryUnits)) return;
  buffer[keep < kQueryUnits ? keep : kQueryUnits - 1] = 0;
  UserTextSet(id, buffer);
}

bool SystemText(UtLocaleItem item, char16_t* buffer, size_t capacity) {
  return LocaleQueryText(item, buffer, capacity);
}

bool SystemNumber(UtLocaleItem item, uint32_t* value) { return LocaleQueryNumber(item, value); }

void AppendDecimal(unsigned value, char16_t* out, size_t capacity, size_t* n) {
  char16_t digits[4];
  size_t count = 0;
  do {
    digits[count++] = char16_t(u'0' + value % 10);
    value /= 10;
  } while (value && count < 4);
  while (count > 0) {
    if (*n + 1 < capacity) out[*n] = digits[count - 1];
    ++*n;
    --count;
  }
}

}  // namespace

void ApplyLocaleSettings(const UtLocaleSource& source) {
  SetNegativeFormat(source);
  SetFromSystem(source, UtLocaleItem::kThousandSep, kUtLocaleThousSep, 1);
  SetFromSystem(source, UtLocaleItem::kGrouping, kUtLocaleThousGrouping, kGroupingUnits);
  SetFromSystem(source, UtLocaleItem::kDecimal, kUtLocaleDecimal, 1);
  SetFromSystem(source, UtLocaleItem::kTimeSep, kUtLocaleTimeSep, 1);
}

// The last initialiser of this file: the system's settings replace the defaults above when the
// table is first used, so a run that shows no text never opens the system's locale.
static const bool g_locale_applied = (UserTextOnFirstUse([] {
                                        ApplyLocaleSettings({SystemText, SystemNumber});
                                      }),
                                      true);

const char16_t* FormatElapsedTime(malloc_i* pool, int64_t duration) {
  kd_mp_c scratch;
  const char16_t* time_sep = UserTextGet(&scratch, kUtLocaleTimeSep);
  const char16_t* decimal = UserTextGet(&scratch, kUtLocaleDecimal);
  bool negative = duration < 0;
  // The magnitude as unsigned, so that the most negative duration has one too.
  uint64_t magnitude = negative ? 0 - uint64_t(duration) : uint64_t(duration);
  uint64_t milliseconds = magnitude / kTicksPerMillisecond;
  uint64_t seconds = milliseconds / 1000;
  // At most 2^64 / 10^7 / 3600 hours: an int holds them.
  int hours = int(seconds / 3600);
  char16_t text[kElapsedUnits];
  TextFormat(text, kElapsedUnits, u"%i%s%02i%s%02i%s%03i", hours, time_sep, int(seconds / 60 % 60),
             time_sep, int(seconds % 60), decimal, int(milliseconds % 1000));
  if (negative) return UserTextGet1(pool, kUtLocaleNegFormat, text);
  size_t length = Utf16Length(text);
  auto* copy = static_cast<char16_t*>(pool->Allocate((length + 1) * sizeof(char16_t)));
  if (!copy) return kUserTextError;
  for (size_t i = 0; i < length; ++i) copy[i] = text[i];
  return copy;
}

bool GroupingFromByteCounts(const char* counts, char16_t* out, size_t capacity) {
  if (!counts || !counts[0] || capacity == 0) return false;
  size_t n = 0;
  bool repeats = true;
  for (const char* p = counts; *p; ++p) {
    unsigned size = static_cast<unsigned char>(*p);
    // CHAR_MAX (or a negative byte where char is signed) ends the grouping.
    if (size >= 127) {
      repeats = false;
      break;
    }
    if (p != counts) {
      if (n + 1 < capacity) out[n] = u';';
      ++n;
    }
    AppendDecimal(size, out, capacity, &n);
  }
  if (n == 0) {
    AppendDecimal(0, out, capacity, &n);  // no grouping at all
  } else if (repeats) {
    for (const char16_t* tail = u";0"; *tail; ++tail, ++n)
      if (n + 1 < capacity) out[n] = *tail;
  }
  out[n < capacity ? n : capacity - 1] = 0;
  return true;
}

const char* TimeSeparatorInFormat(const char* format) {
  for (const char* p = format; p && *p; ++p) {
    if (*p != '%') continue;
    ++p;
    // Flags, a width and the E / O modifiers may stand between "%" and the conversion.
    while (*p == '_' || *p == '-' || *p == '0' || *p == '^' || *p == '#' ||
           (*p >= '1' && *p <= '9') || *p == 'E' || *p == 'O')
      ++p;
    switch (*p) {
      case 'T':
      case 'R':
      case 'r': return ":";
      case 'H':
      case 'I':
      case 'k':
      case 'l':
      case 'M':
        if (p[1] && p[1] != '%') return p + 1;
        break;
      case 0: return nullptr;
    }
  }
  return nullptr;
}
