// Dates of the on-disc formats: calendar checks, zones, and the UDF "no zone" value.
#include <gtest/gtest.h>

#include <cstring>

#include "base/endian.h"
#include "isofs/disc_time.h"

using namespace IsoFs;

namespace {
constexpr uint64_t kDay = 864000000000;
constexpr uint64_t kMinute = 600000000;
const uint64_t k2000 = CalendarToTime(2000, 1, 1, 0, 0, 0, 0);

void Udf(uint8_t* s, int type, int zone, int year, int month, int day) {
  std::memset(s, 0, 12);
  StoreLe16(s, uint16_t((type << 12) | (zone & 0xFFF)));
  StoreLe16(s + 2, uint16_t(year));
  s[4] = uint8_t(month), s[5] = uint8_t(day);
}
}  // namespace

TEST(DiscTime, CalendarLimits) {
  EXPECT_EQ(CalendarToTime(1601, 1, 1, 0, 0, 0, 0), 0u);  // the epoch itself reads as unknown
  EXPECT_EQ(CalendarToTime(1601, 1, 2, 0, 0, 0, 0), kDay);
  EXPECT_EQ(CalendarToTime(1600, 12, 31, 0, 0, 0, 0), 0u);
  EXPECT_EQ(CalendarToTime(2000, 2, 30, 0, 0, 0, 0), 0u);
  EXPECT_EQ(CalendarToTime(1900, 2, 29, 0, 0, 0, 0), 0u);
  EXPECT_EQ(CalendarToTime(2000, 1, 1, 24, 0, 0, 0), 0u);
  EXPECT_EQ(CalendarToTime(2000, 1, 1, 0, 0, 60, 0), 0u);
  EXPECT_EQ(CalendarToTime(2000, 1, 1, 0, 0, 0, 1000), 0u);
  EXPECT_EQ(CalendarToTime(2000, 3, 1, 0, 0, 0, 0) - CalendarToTime(2000, 2, 28, 0, 0, 0, 0), 2 * kDay);
}

TEST(DiscTime, IsoFormsAndZones) {
  uint8_t long_form[17];
  std::memcpy(long_form, "2000010101000000", 16);
  long_form[16] = 4;  // +01:00
  EXPECT_EQ(IsoLongDate(long_form), k2000);
  long_form[0] = '0';  // year 0000: before the calendar's start
  EXPECT_EQ(IsoLongDate(long_form), 0u);
  uint8_t short_form[7] = {100, 1, 1, 0, 0, 0, uint8_t(-8)};  // -02:00
  EXPECT_EQ(IsoShortDate(short_form), k2000 + 120 * kMinute);
  uint8_t early[7] = {0, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(IsoShortDate(early), CalendarToTime(1900, 1, 1, 0, 0, 0, 0));
}

TEST(DiscTime, UdfZones) {
  uint8_t s[12];
  Udf(s, 1, 60, 2000, 1, 1);
  EXPECT_EQ(UdfTimestamp(s), k2000 - 60 * kMinute);
  Udf(s, 1, -90, 2000, 1, 1);
  EXPECT_EQ(UdfTimestamp(s), k2000 + 90 * kMinute);
  Udf(s, 1, -2047, 2000, 1, 1);  // no zone recorded: taken as UTC
  EXPECT_EQ(UdfTimestamp(s), k2000);
  Udf(s, 0, 60, 2000, 1, 1);  // type 0: the zone is not applied
  EXPECT_EQ(UdfTimestamp(s), k2000);
  Udf(s, 1, 0, 2000, 13, 1);
  EXPECT_EQ(UdfTimestamp(s), 0u);
  Udf(s, 1, 0, 2000, 1, 1);
  s[9] = 12, s[10] = 34;  // 12 centiseconds and 34 hundreds of microseconds: 123 ms
  EXPECT_EQ(UdfTimestamp(s), k2000 + 1230000);
}
