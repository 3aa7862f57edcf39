// Texts made from numbers and times. Sizes use the program's own fixed format (always "." and
// ","), independent of the process locale; dates deliberately follow LC_TIME.
#include "core/text_format.h"

#include <charconv>
#include <clocale>
#include <cstring>

#include "core/messages.h"

namespace quorbel {

namespace {

// "%.6f" of the value cut after the first decimal. to_chars keeps "." even when the process
// runs under a locale whose decimal separator is ",".
std::string ScaledValueText(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    const std::size_t point = text.find('.');
    if (point == std::string::npos)
        text += ".0";
    else
        text.resize(point + 2);
    return text;
}

struct SizeParts {
    std::string value;
    const std::string* unit;
};

SizeParts SplitSize(int64_t size) {
    constexpr int64_t kKb = 1024;
    constexpr int64_t kMb = kKb * 1024;
    constexpr int64_t kGb = kMb * 1024;
    if (size >= kGb)
        return {ScaledValueText(static_cast<double>(size) / kGb), &StringById(text_id::kSizeGb)};
    if (size >= kMb)
        return {ScaledValueText(static_cast<double>(size) / kMb), &StringById(text_id::kSizeMb)};
    if (size >= kKb)
        return {ScaledValueText(static_cast<double>(size) / kKb), &StringById(text_id::kSizeKb)};
    return {ScaledValueText(static_cast<double>(size)), &StringById(text_id::kSizeBytes)};
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
