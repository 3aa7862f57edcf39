#include "formats/engines/member_time.h"

#include "formats/engines/archive_member.h"

#include "core/data_stream.h"

namespace quorbel::engines {

bool ToCalendar(const MemberTime& time, CalendarTime& out) {
    if (time.kind == MemberTime::Kind::Dos) {
        out.year = 1980 + (time.dos_date >> 9);
        out.month = (time.dos_date >> 5) & 15;
        out.day = time.dos_date & 31;
        out.hour = time.dos_time >> 11;
        out.minute = (time.dos_time >> 5) & 63;
        out.second = (time.dos_time & 31) * 2;
        return true;
    }
    if (time.kind == MemberTime::Kind::Unix) {
        std::time_t t = std::time_t(time.unix_time);
        if (int64_t(t) != time.unix_time) return false;
        std::tm tm{};
        if (!localtime_r(&t, &tm)) return false;
        out.year = tm.tm_year + 1900;
        out.month = tm.tm_mon + 1;
        out.day = tm.tm_mday;
        out.hour = tm.tm_hour;
        out.minute = tm.tm_min;
        out.second = tm.tm_sec;
        return true;
    }
    return false;
}

std::time_t ToTimeT(const MemberTime& time) {
    if (time.kind == MemberTime::Kind::Unix) return std::time_t(time.unix_time);
    CalendarTime c;
    if (!ToCalendar(time, c)) return -1;
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

bool ReadExactAt(DataStream& stream, int64_t offset, void* buffer, size_t size) {
    if (offset < 0 || stream.Seek(offset, DataStream::Origin::Start) != offset) return false;
    return stream.Read(buffer, size) == size;
}

const char* DirectoryStatusName(DirectoryStatus status) {
    switch (status) {
    case DirectoryStatus::Ok: return "ok";
    case DirectoryStatus::NotThisFormat: return "not this format";
    case DirectoryStatus::Truncated: return "truncated";
    case DirectoryStatus::Corrupt: return "corrupt";
    case DirectoryStatus::Cancelled: return "cancelled";
    }
    return "?";
}

}  // namespace quorbel::engines
