// Locale settings on Windows: GetLocaleInfoW for the user's default locale.
#include "usertext/locale_os.h"

#include <windows.h>

namespace {
LCTYPE TypeOf(UtLocaleItem item) {
  switch (item) {
    case UtLocaleItem::kNegativeSign: return LOCALE_SNEGATIVESIGN;
    case UtLocaleItem::kNegativeNumber: return LOCALE_INEGNUMBER;
    case UtLocaleItem::kThousandSep: return LOCALE_STHOUSAND;
    case UtLocaleItem::kGrouping: return LOCALE_SGROUPING;
    case UtLocaleItem::kDecimal: return LOCALE_SDECIMAL;
    case UtLocaleItem::kTimeSep: return LOCALE_STIME;
  }
  return 0;
}
}  // namespace

bool LocaleQueryText(UtLocaleItem item, char16_t* buffer, size_t capacity) {
  return GetLocaleInfoW(LOCALE_USER_DEFAULT, TypeOf(item), reinterpret_cast<LPWSTR>(buffer),
                        static_cast<int>(capacity)) > 0;
}

bool LocaleQueryNumber(UtLocaleItem item, uint32_t* value) {
  DWORD number = 0;
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, TypeOf(item) | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&number), sizeof number / sizeof(WCHAR)) == 0)
    return false;
  *value = number;
  return true;
}
