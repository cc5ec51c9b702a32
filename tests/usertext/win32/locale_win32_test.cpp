#include <gtest/gtest.h>

#include <string>

#include "base/pool.h"
#include "usertext/locale_os.h"
#include "usertext/user_text.h"

TEST(LocaleWin32, TheSystemAnswersEveryQueryAndTheEntriesHoldItsAnswers) {
  char16_t buffer[50];
  for (UtLocaleItem item : {UtLocaleItem::kNegativeSign, UtLocaleItem::kThousandSep,
                            UtLocaleItem::kGrouping, UtLocaleItem::kDecimal, UtLocaleItem::kTimeSep})
    EXPECT_TRUE(LocaleQueryText(item, buffer, 50)) << int(item);
  uint32_t pattern = 99;
  ASSERT_TRUE(LocaleQueryNumber(UtLocaleItem::kNegativeNumber, &pattern));
  EXPECT_LE(pattern, 4u);

  // The set-up ran before main: the entries are the system's first units.
  kd_mp_c pool;
  ASSERT_TRUE(LocaleQueryText(UtLocaleItem::kDecimal, buffer, 50));
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"locale_decimal")), std::u16string(buffer, 1));
  ASSERT_TRUE(LocaleQueryText(UtLocaleItem::kTimeSep, buffer, 50));
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"locale_time_sep")), std::u16string(buffer, 1));
}
