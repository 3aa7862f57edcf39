// Size, thousands, date and attribute texts.
#include "core/text_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstdint>
#include <string>
#include <vector>

#include "core/messages.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

// Pins English and the C time locale, restoring both afterwards.
class TextFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_language_ = CurrentLanguage();
        SetLanguage(Language::English);
        const char* current = std::setlocale(LC_TIME, nullptr);
        saved_time_locale_ = current ? current : "C";
        std::setlocale(LC_TIME, "C");
    }
    void TearDown() override {
        std::setlocale(LC_TIME, saved_time_locale_.c_str());
        SetLanguage(saved_language_);
    }

private:
    Language saved_language_ = Language::English;
    std::string saved_time_locale_;
};

struct ThousandsRow {
    uint64_t value;
    const char* text;
};

TEST_F(TextFormatTest, ThousandsGroups) {
    const ThousandsRow rows[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {12345, "12,345"},
        {999999, "999,999"},
        {1000000, "1,000,000"},
        {1234567, "1,234,567"},
        {1073741824, "1,073,741,824"},
        {UINT64_MAX, "18,446,744,073,709,551,615"},
    };
    for (const ThousandsRow& row : rows) EXPECT_EQ(ThousandsText(row.value), row.text) << row.value;
}

struct SizeRow {
    int64_t size;
    const char* short_text;
    const char* long_text;
};

TEST_F(TextFormatTest, SizesAtEveryUnitBoundary) {
    const SizeRow rows[] = {
        {-1, "?", "?"},
        {0, "0 Byte", "0 Byte"},
        {1, "1.0 Bytes", "1.0 Bytes (1 bytes)"},
        {500, "500.0 Bytes", "500.0 Bytes (500 bytes)"},
        {1023, "1023.0 Bytes", "1023.0 Bytes (1,023 bytes)"},
        {1024, "1.0 Kb", "1.0 Kb (1,024 bytes)"},
        // 1126 / 1024 = 1.0996...: cut, not rounded to 1.1.
        {1126, "1.0 Kb", "1.0 Kb (1,126 bytes)"},
        {1536, "1.5 Kb", "1.5 Kb (1,536 bytes)"},
        {1048575, "1023.9 Kb", "1023.9 Kb (1,048,575 bytes)"},
        {1048576, "1.0 Mb", "1.0 Mb (1,048,576 bytes)"},
        {1073741823, "1023.9 Mb", "1023.9 Mb (1,073,741,823 bytes)"},
        {1073741824, "1.0 Gb", "1.0 Gb (1,073,741,824 bytes)"},
        // 3.9999999991 has six decimals "4.000000" before the cut.
        {4294967295LL, "4.0 Gb", "4.0 Gb (4,294,967,295 bytes)"},
        {4294967296LL, "4.0 Gb", "4.0 Gb (4,294,967,296 bytes)"},
        {1099511627776LL, "1024.0 Gb", "1024.0 Gb (1,099,511,627,776 bytes)"},
    };
    for (const SizeRow& row : rows) {
        EXPECT_EQ(SizeShortText(row.size), row.short_text) << row.size;
        EXPECT_EQ(SizeLongText(row.size), row.long_text) << row.size;
    }
}

// The value is "%.6f" of the size over its unit, cut after one decimal: checked against the
// standard library's formatting for sizes around every rounding edge of each unit and at
// random, up to the largest.
TEST_F(TextFormatTest, SizesAgreeWithSixDecimalsCutToOne) {
    auto expected = [](int64_t size) {
        const int64_t units[] = {int64_t(1) << 30, int64_t(1) << 20, int64_t(1) << 10, 1};
        const char* names[] = {" Gb", " Mb", " Kb", " Bytes"};
        for (int u = 0; u < 4; ++u) {
            if (size < units[u] && u < 3) continue;
            char buffer[64];
            const auto r = std::to_chars(buffer, buffer + sizeof buffer,
                                         static_cast<double>(size) / double(units[u]),
                                         std::chars_format::fixed, 6);
            std::string text(buffer, r.ptr);
            return text.substr(0, text.find('.') + 2) + names[u];
        }
        return std::string();
    };
    std::vector<int64_t> sizes;
    for (int shift : {10, 20, 30})
        for (int64_t tenth = 1; tenth < 30; ++tenth) {
            // Just below, at and above where six decimals round up to the next tenth, and
            // the exact halves of the last decimal.
            const int64_t edge = (tenth << shift) / 10;
            for (int64_t d = -3; d <= 3; ++d) sizes.push_back(edge + d);
        }
    uint64_t state = 99;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        sizes.push_back(int64_t(state >> (1 + state % 62)));
    }
    sizes.push_back(INT64_MAX);
    sizes.push_back((int64_t(1) << 53) + 1);
    for (int64_t size : sizes) {
        if (size <= 0) continue;
        ASSERT_EQ(SizeShortText(size), expected(size)) << size;
    }
}

TEST_F(TextFormatTest, SizesInFrenchUseTheTableUnits) {
    SetLanguage(Language::French);
    const SizeRow rows[] = {
        {-1, "?", "?"},
        {0, "0 octet", "0 octet"},
        {500, "500.0 octets", "500.0 octets (500 octets)"},
        {1536, "1.5 Ko", "1.5 Ko (1,536 octets)"},
        {1048576, "1.0 Mo", "1.0 Mo (1,048,576 octets)"},
        {4294967296LL, "4.0 Go", "4.0 Go (4,294,967,296 octets)"},
    };
    for (const SizeRow& row : rows) {
        EXPECT_EQ(SizeShortText(row.size), row.short_text) << row.size;
        EXPECT_EQ(SizeLongText(row.size), row.long_text) << row.size;
    }
}

struct DateRow {
    std::time_t t;
    const char* short_text;
    const char* long_text;
};

const DateRow kUtcDates[] = {
    {0, "01/01/1970 00:00:00", "Thursday, January 01, 1970 00:00:00"},
    {951827696, "02/29/2000 12:34:56", "Tuesday, February 29, 2000 12:34:56"},
    {1700000000, "11/14/2023 22:13:20", "Tuesday, November 14, 2023 22:13:20"},
    {4102444799, "12/31/2099 23:59:59", "Thursday, December 31, 2099 23:59:59"},
};

TEST_F(TextFormatTest, DatesInTheCLocale) {
    test::ScopedEnv tz("TZ", "UTC");
    for (const char* locale : {"C", "POSIX", "C.UTF-8"}) {
        if (!std::setlocale(LC_TIME, locale)) {
            ADD_FAILURE() << "locale " << locale << " is not available";
            continue;
        }
        for (const DateRow& row : kUtcDates) {
            EXPECT_EQ(ShortDateText(row.t), row.short_text) << locale << " " << row.t;
            EXPECT_EQ(LongDateText(row.t), row.long_text) << locale << " " << row.t;
        }
    }
}

TEST_F(TextFormatTest, DatesFollowTheLocalZone) {
    // POSIX zone "XYZ-2" is two hours east of UTC.
    test::ScopedEnv tz("TZ", "XYZ-2");
    EXPECT_EQ(ShortDateText(0), "01/01/1970 02:00:00");
    EXPECT_EQ(LongDateText(1700000000), "Wednesday, November 15, 2023 00:13:20");
}

struct LocaleRow {
    const char* name;
    const char* short_form;
    const char* long_form;
};

TEST_F(TextFormatTest, DateFormatsPerLocaleName) {
    const LocaleRow rows[] = {
        {"C", "%m/%d/%Y", "%A, %B %d, %Y"},
        {"POSIX", "%m/%d/%Y", "%A, %B %d, %Y"},
        {"C.UTF-8", "%m/%d/%Y", "%A, %B %d, %Y"},
        {"C.utf8", "%m/%d/%Y", "%A, %B %d, %Y"},
        {"", "%m/%d/%Y", "%A, %B %d, %Y"},
        {"en_US.UTF-8", "%x", "%A, %B %d, %Y"},
        {"de_DE.UTF-8", "%x", "%A, %B %d, %Y"},
        {"fr_FR.UTF-8", "%x", "%A %d %B %Y"},
        {"fr_CA", "%x", "%A %d %B %Y"},
    };
    for (const LocaleRow& row : rows) {
        const DateFormats formats = DateFormatsForLocale(row.name);
        EXPECT_STREQ(formats.short_form, row.short_form) << row.name;
        EXPECT_STREQ(formats.long_form, row.long_form) << row.name;
    }
    const DateFormats none = DateFormatsForLocale(nullptr);
    EXPECT_STREQ(none.short_form, "%m/%d/%Y");
}

struct AttributeRow {
    uint32_t attributes;
    const char* letters;
};

TEST_F(TextFormatTest, AttributeLettersInFixedOrder) {
    const AttributeRow rows[] = {
        {0x00, ""},   {0x01, "R"},   {0x20, "A"},    {0x02, "H"},      {0x04, "S"},
        {0x10, ""},   {0x08, ""},    {0x06, "HS"},   {0x21, "RA"},     {0x22, "AH"},
        {0x27, "RAHS"}, {0x37, "RAHS"}, {0xFFFF, "RAHS"}, {0x30, "A"},
    };
    for (const AttributeRow& row : rows)
        EXPECT_EQ(AttributeLetters(row.attributes), row.letters) << row.attributes;
}

}  // namespace
}  // namespace quorbel
