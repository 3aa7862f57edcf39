// Texts made from numbers and times. Sizes use the program's own fixed format (always "." and
// ","), independent of the process locale; dates deliberately follow LC_TIME.
#include "core/text_format.h"

#include <clocale>
#include <cstring>

#include "core/messages.h"

namespace quorbel {

namespace {

// "%.6f" of size / 2^shift cut after the first decimal, always with ".". The quotient is
// taken as the double the size converts to, divided exactly by the power of two, and rounded
// to six decimals as printf does (to nearest, halves to even), in whole numbers: no locale
// and no floating-point formatting code.
std::string ScaledValueText(int64_t size, int shift) {
    const unsigned __int128 whole = static_cast<uint64_t>(static_cast<double>(size < 0 ? 0 : size));
    const unsigned __int128 scaled = whole * 1000000u;
    unsigned __int128 millionths = scaled >> shift;
    if (shift > 0) {
        const unsigned __int128 rest = scaled & (((unsigned __int128)1 << shift) - 1);
        const unsigned __int128 half = (unsigned __int128)1 << (shift - 1);
        if (rest > half || (rest == half && (millionths & 1))) ++millionths;
    }
    return std::to_string(static_cast<uint64_t>(millionths / 1000000u)) + "." +
           char('0' + static_cast<int>(millionths / 100000u % 10));
}

struct SizeParts {
    std::string value;
    const std::string* unit;
};

SizeParts SplitSize(int64_t size) {
    constexpr int64_t kKb = 1024;
    constexpr int64_t kMb = kKb * 1024;
    constexpr int64_t kGb = kMb * 1024;
    if (size >= kGb) return {ScaledValueText(size, 30), &StringById(text_id::kSizeGb)};
    if (size >= kMb) return {ScaledValueText(size, 20), &StringById(text_id::kSizeMb)};
    if (size >= kKb) return {ScaledValueText(size, 10), &StringById(text_id::kSizeKb)};
    return {ScaledValueText(size, 0), &StringById(text_id::kSizeBytes)};
}

// Negative sizes other than -1 are just as unknown; "?" rather than a nonsense number.
bool SizeUnknown(int64_t size) { return size < 0; }

std::string ZeroSizeText() { return "0 " + StringById(text_id::kSizeByte); }

bool IsCLocale(const char* name) {
    if (!name || !*name) return true;
    return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
           std::strncmp(name, "C.", 2) == 0;
}

std::string DateTimeText(std::time_t t, bool long_form) {
    // Re-read TZ each time so a changed zone is honoured; cheap when it has not changed.
    tzset();
    std::tm parts{};
    if (!localtime_r(&t, &parts)) return "?";
    const DateFormats formats = DateFormatsForLocale(std::setlocale(LC_TIME, nullptr));
    char date[128];
    char time[32];
    if (std::strftime(date, sizeof date, long_form ? formats.long_form : formats.short_form,
                      &parts) == 0)
        date[0] = '\0';
    if (std::strftime(time, sizeof time, "%H:%M:%S", &parts) == 0) time[0] = '\0';
    return std::string(date) + " " + time;
}

}  // namespace

std::string ThousandsText(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    const std::size_t lead = digits.size() % 3;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (i % 3) == lead % 3) out += ',';
        out += digits[i];
    }
    return out;
}

std::string SizeShortText(int64_t size) {
    if (SizeUnknown(size)) return "?";
    if (size == 0) return ZeroSizeText();
    const SizeParts parts = SplitSize(size);
    return parts.value + " " + *parts.unit;
}

std::string SizeLongText(int64_t size) {
    if (SizeUnknown(size)) return "?";
    if (size == 0) return ZeroSizeText();
    const SizeParts parts = SplitSize(size);
    return FormatText(StringById(text_id::kSizeLongForm).c_str(), parts.value.c_str(),
                      parts.unit->c_str(), ThousandsText(static_cast<uint64_t>(size)).c_str());
}

DateFormats DateFormatsForLocale(const char* lc_time_name) {
    // The C locale's "%x" has a two-digit year; spell the year out instead.
    if (IsCLocale(lc_time_name)) return {"%m/%d/%Y", "%A, %B %d, %Y"};
    if (std::strncmp(lc_time_name, "fr", 2) == 0) return {"%x", "%A %d %B %Y"};
    return {"%x", "%A, %B %d, %Y"};
}

std::string ShortDateText(std::time_t t) { return DateTimeText(t, false); }

std::string LongDateText(std::time_t t) { return DateTimeText(t, true); }

std::string AttributeLetters(uint32_t attributes) {
    std::string letters;
    if (attributes & 0x01) letters += 'R';
    if (attributes & 0x20) letters += 'A';
    if (attributes & 0x02) letters += 'H';
    if (attributes & 0x04) letters += 'S';
    return letters;
}

}  // namespace quorbel
