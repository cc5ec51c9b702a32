// Locale settings on Linux: the environment's locale (LC_ALL, LC_NUMERIC, LC_TIME, LANG), opened
// with newlocale so the process's own locale stays as it is. POSIX locales have no numeric
// negative sign or pattern; those settings keep their defaults.
#include "usertext/locale_os.h"

#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include "base/text.h"

namespace {

// Only the categories the settings come from must be usable: the character set, numbers, times.
constexpr int kCategories = LC_CTYPE_MASK | LC_NUMERIC_MASK | LC_TIME_MASK;

// The environment's locale for the life of one query.
class EnvironmentLocale {
 public:
  EnvironmentLocale() : locale_(newlocale(kCategories, "", static_cast<locale_t>(0))) {}
  ~EnvironmentLocale() {
    if (locale_) freelocale(locale_);
  }
  EnvironmentLocale(const EnvironmentLocale&) = delete;
  EnvironmentLocale& operator=(const EnvironmentLocale&) = delete;

  const char* Item(nl_item item) const { return locale_ ? nl_langinfo_l(item, locale_) : nullptr; }

 private:
  locale_t locale_;
};

// The locale's text as UTF-16. Only UTF-8 locales may use characters beyond ASCII; an empty
// text says nothing.
bool ToUtf16(const EnvironmentLocale& locale, const char* text, char16_t* buffer, size_t capacity) {
  if (!text || !text[0]) return false;
  const char* codeset = locale.Item(CODESET);
  bool utf8 = codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  for (const char* p = text; !utf8 && *p; ++p)
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  Utf8ToUtf16(buffer, capacity, text, -1);
  return true;
}

}  // namespace

bool LocaleQueryText(UtLocaleItem item, char16_t* buffer, size_t capacity) {
  EnvironmentLocale locale;
  switch (item) {
    case UtLocaleItem::kDecimal: return ToUtf16(locale, locale.Item(RADIXCHAR), buffer, capacity);
    case UtLocaleItem::kThousandSep: return ToUtf16(locale, locale.Item(THOUSEP), buffer, capacity);
    case UtLocaleItem::kGrouping: {
      const char* counts = locale.Item(GROUPING);
      return counts && GroupingFromByteCounts(counts, buffer, capacity);
    }
    case UtLocaleItem::kTimeSep: {
      // The separator starts the text; the set-up keeps only its first unit.
      const char* format = locale.Item(T_FMT);
      return ToUtf16(locale, format ? TimeSeparatorInFormat(format) : nullptr, buffer, capacity);
    }
    default: return false;
  }
}

bool LocaleQueryNumber(UtLocaleItem, uint32_t*) { return false; }
