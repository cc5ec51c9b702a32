#include "isofs/disc_time.h"

#include "base/endian.h"

namespace IsoFs {

namespace {

constexpr uint64_t kTicksPerMinute = 600000000;
constexpr int64_t kDaysFrom1601To1970 = 134774;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Local time to UTC: subtracts a zone offset in minutes, keeping 0 for dates it would push
// before 1601.
uint64_t MinusZone(uint64_t time, int64_t zone_minutes) {
  if (time == 0) return 0;
  int64_t shifted = int64_t(time) - zone_minutes * int64_t(kTicksPerMinute);
  return shifted > 0 ? uint64_t(shifted) : 0;
}

}  // namespace

uint64_t CalendarToTime(int year, int month, int day, int hour, int minute, int second,
                        int milliseconds) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12) return 0;
  if (day < 1 || day > DaysInMonth(year, month)) return 0;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return 0;
  if (milliseconds < 0 || milliseconds > 999) return 0;
  int64_t days = DaysFromCivil(year, month, day) + kDaysFrom1601To1970;
  int64_t ms = ((days * 24 + hour) * 60 + minute) * 60000 + int64_t(second) * 1000 + milliseconds;
  return uint64_t(ms) * 10000;
}

uint64_t IsoLongDate(const uint8_t* d) {
  auto digits = [d](int at, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) value = value * 10 + (int(d[at + i]) - '0');
    return value;
  };
  uint64_t t = CalendarToTime(digits(0, 4), digits(4, 2), digits(6, 2), digits(8, 2), digits(10, 2),
                              digits(12, 2), digits(14, 2) * 10);
  return MinusZone(t, int64_t(int8_t(d[16])) * 15);
}

uint64_t IsoShortDate(const uint8_t* d) {
  uint64_t t = CalendarToTime(1900 + d[0], d[1], d[2], d[3], d[4], d[5], 0);
  return MinusZone(t, int64_t(int8_t(d[6])) * 15);
}

uint64_t UdfTimestamp(const uint8_t* s) {
  uint16_t type_and_zone = LoadLe16(s);
  int ms = s[9] * 10 + s[10] / 10;
  uint64_t t = CalendarToTime(int16_t(LoadLe16(s + 2)), s[4], s[5], s[6], s[7], s[8], ms);
  if ((type_and_zone >> 12) != 1) return t;
  // A signed 12-bit zone in minutes; -2047 says no zone was recorded (the time is taken as UTC).
  int zone = type_and_zone & 0xFFF;
  if (zone & 0x800) zone -= 0x1000;
  return zone == -2047 ? t : MinusZone(t, zone);
}

}  // namespace IsoFs
