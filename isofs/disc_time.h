// Dates as the on-disc formats record them, turned into 100-ns units since 1601-01-01 UTC.
// Every form yields 0 (unknown) when its calendar date is not a valid one.
#pragma once
#include <cstdint>

namespace IsoFs {

// A calendar date and time taken as UTC; 0 unless year 1601..30827, a real month and day,
// hour < 24, minute < 60, second < 60 and milliseconds < 1000.
uint64_t CalendarToTime(int year, int month, int day, int hour, int minute, int second,
                        int milliseconds);

// ISO 9660 dates: the 17-byte text form (volume descriptors, extended attribute records) and
// the 7-byte binary form (directory records), each with its offset from UTC in 15-minute units.
uint64_t IsoLongDate(const uint8_t* date17);
uint64_t IsoShortDate(const uint8_t* date7);

// The 12-byte UDF timestamp.
uint64_t UdfTimestamp(const uint8_t* stamp);

}  // namespace IsoFs
