// The user's locale settings as the system reports them, for the locale set-up.
#pragma once
#include "usertext/locale.h"

// The settings of the user's default locale. Windows asks GetLocaleInfoW; Linux reads the
// environment's locale (LC_ALL, LC_NUMERIC, LC_TIME, LANG) without changing the process's own.
bool LocaleQueryText(UtLocaleItem item, char16_t* buffer, size_t capacity);
bool LocaleQueryNumber(UtLocaleItem item, uint32_t* value);
