// A member's modification time as an archive stores it: an MS-DOS date and time (local time of
// the machine that packed it) or a Unix time (seconds since 1970, UTC).
#pragma once

#include <cstdint>
#include <ctime>

namespace quorbel::engines {

struct MemberTime {
    enum class Kind { None, Dos, Unix };
    Kind kind = Kind::None;
    uint16_t dos_date = 0;  // Kind::Dos
    uint16_t dos_time = 0;
    int64_t unix_time = 0;  // Kind::Unix

    static MemberTime FromDos(uint16_t date, uint16_t time) {
        MemberTime t;
        t.kind = Kind::Dos;
        t.dos_date = date;
        t.dos_time = time;
        return t;
    }
    static MemberTime FromUnix(int64_t seconds) {
        MemberTime t;
        t.kind = Kind::Unix;
        t.unix_time = seconds;
        return t;
    }
};

// Calendar fields of a time: local fields for a DOS time as stored, UTC turned into local time
// for a Unix time. False for Kind::None or a Unix time outside what the system can convert.
struct CalendarTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
bool ToCalendar(const MemberTime& time, CalendarTime& out);

// Seconds since 1970: a DOS time read as local time, a Unix time as it is; -1 for none.
std::time_t ToTimeT(const MemberTime& time);

}  // namespace quorbel::engines
