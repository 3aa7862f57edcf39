// Texts made from numbers and times: sizes, thousands groups, dates, attribute letters.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace quorbel {

// 1234567 -> "1,234,567".
std::string ThousandsText(uint64_t value);

// The two size forms of the archive views. -1 (all bits set) is "?", 0 is "0 Byte";
// otherwise Bytes / Kb / Mb / Gb, the value printed with six decimals and cut after the first
// ("1.5 Kb"). The long form adds the exact count: "1.5 Kb (1,536 bytes)".
std::string SizeShortText(int64_t size);
std::string SizeLongText(int64_t size);

// "%s %s" of the local date (short or long form of LC_TIME's locale) and the local time.
std::string ShortDateText(std::time_t t);
std::string LongDateText(std::time_t t);

// The strftime date formats the two date texts use for an LC_TIME locale name: "%x" and a
// weekday/day/month/year form, with a four-digit year for the C locale.
struct DateFormats {
    const char* short_form;
    const char* long_form;
};
DateFormats DateFormatsForLocale(const char* lc_time_name);

// DOS attribute bits (1 read-only, 2 hidden, 4 system, 0x20 archive) -> "RAHS" letters in that
// order.
std::string AttributeLetters(uint32_t attributes);

}  // namespace quorbel
