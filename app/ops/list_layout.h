// The options of list printing and export ("Options\ListPrinting\"): margins, the header and
// footer bands, the table's colours and fonts, and which columns are printed or exported.
// Lengths are millimetres; colours are colour references 0x00BBGGRR.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "app/ops/list_export.h"

namespace quorbel {

inline constexpr const char* kListPrintingKey = "Options\\ListPrinting";

// A font as the settings keep it, field by field (the classic logical-font record). Only
// height, weight, italic, underline, strike-out and the face name change what is drawn.
struct LogFont {
    int32_t height = 14;  // character height in points (a negative height counts the same)
    int32_t width = 0, escapement = 0, orientation = 0;
    int32_t weight = 400;  // 400 normal, 700 bold
    int32_t italic = 0, underline = 0, strike_out = 0;
    int32_t char_set = 1, out_precision = 0, clip_precision = 0, quality = 0;
    int32_t pitch_and_family = 0;
    std::string face = "Arial";
    bool operator==(const LogFont&) const = default;
};

struct PrintBand {
    bool enabled = true;
    int32_t height = 15;
    uint32_t color = 0;
    std::string left, center, right;
    LogFont font;
    bool operator==(const PrintBand&) const = default;
};

struct ListPrintLayout {
    int32_t margin_left = 1, margin_top = 1, margin_right = 1, margin_bottom = 1;
    int32_t margin_cell = 2;
    PrintBand header, footer;
    uint32_t tab_header_text_color = 0xFFFFFF;
    uint32_t tab_header_background_color = 0;
    uint32_t text_color = 0;
    uint32_t text_background_color[2] = {0xFFFFFF, 15794175};
    LogFont text_font, tab_header_font;
    ColumnSwitches columns{};
    bool operator==(const ListPrintLayout&) const = default;
};

ListPrintLayout ResetListPrintLayout();  // the defaults ("Reset")
ListPrintLayout LoadListPrintLayout();
void StoreListPrintLayout(const ListPrintLayout& layout);
bool IsColumnPrinted(const ListPrintLayout& layout, int column);

// Red, green and blue of a colour reference.
inline int RedOf(uint32_t c) { return int(c & 0xFF); }
inline int GreenOf(uint32_t c) { return int((c >> 8) & 0xFF); }
inline int BlueOf(uint32_t c) { return int((c >> 16) & 0xFF); }

// A band template with its tokens filled: "&&[File]", "&&[Date]" (the locale's short date),
// "&&[Hour]" (the locale's time), "&&[Page]" and "&&[Pages]", each wherever it occurs.
std::string FillTemplate(const std::string& text, const std::string& file, std::time_t now,
                         int page, int pages);

}  // namespace quorbel
