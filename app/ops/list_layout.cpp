#include "app/ops/list_layout.h"

#include <cstdlib>

#include "platform/registry_access.h"

namespace quorbel {

namespace {

LogFont DefaultFont(int32_t height, int32_t weight) {
    LogFont f;
    f.height = height;
    f.weight = weight;
    return f;
}

// The thirteen fields of a font record, in their stored order, with their value names.
struct FontField {
    const char* name;
    int32_t LogFont::*field;
};
constexpr FontField kFontFields[] = {
    {"lfHeight", &LogFont::height},         {"lfWidth", &LogFont::width},
    {"lfEscapement", &LogFont::escapement}, {"lfOrientation", &LogFont::orientation},
    {"lfWeight", &LogFont::weight},         {"lfItalic", &LogFont::italic},
    {"lfUnderline", &LogFont::underline},   {"lfStrikeOut", &LogFont::strike_out},
    {"lfCharSet", &LogFont::char_set},      {"lfOutPrecision", &LogFont::out_precision},
    {"lfClipPrecision", &LogFont::clip_precision}, {"lfQuality", &LogFont::quality},
    {"lfPitchAndFamily", &LogFont::pitch_and_family},
};

LogFont LoadFont(AppRegistry& reg, const std::string& prefix, const LogFont& fallback) {
    LogFont f = fallback;
    for (const FontField& field : kFontFields)
        f.*field.field = int32_t(reg.ReadInteger(kListPrintingKey, prefix + field.name, fallback.*field.field));
    // The face name shares its value with the pitch-and-family: a text that is no number is
    // the face, and the pitch-and-family then reads as 0.
    const std::string shared = reg.ReadText(kListPrintingKey, prefix + "lfPitchAndFamily", "");
    char* end = nullptr;
    std::strtol(shared.c_str(), &end, 10);
    if (!shared.empty() && *end != '\0') f.face = shared;
    return f;
}

void StoreFont(AppRegistry& reg, const std::string& prefix, const LogFont& f) {
    for (const FontField& field : kFontFields)
        reg.WriteInteger(kListPrintingKey, prefix + field.name, f.*field.field);
    reg.WriteText(kListPrintingKey, prefix + "lfPitchAndFamily", f.face);
}

void LoadBand(AppRegistry& reg, const std::string& prefix, PrintBand& band) {
    band.enabled = reg.ReadBool(kListPrintingKey, prefix + "_bEnable", band.enabled);
    band.height = int32_t(reg.ReadInteger(kListPrintingKey, prefix + "_Height", band.height));
    band.color = uint32_t(reg.ReadInteger(kListPrintingKey, prefix + "_Color", band.color));
    band.left = reg.ReadText(kListPrintingKey, prefix + "_LeftText", band.left);
    band.center = reg.ReadText(kListPrintingKey, prefix + "_CenterText", band.center);
    band.right = reg.ReadText(kListPrintingKey, prefix + "_RightText", band.right);
    band.font = LoadFont(reg, prefix + "_Font_", band.font);
}

void StoreBand(AppRegistry& reg, const std::string& prefix, const PrintBand& band) {
    reg.WriteBool(kListPrintingKey, prefix + "_bEnable", band.enabled);
    reg.WriteInteger(kListPrintingKey, prefix + "_Height", band.height);
    reg.WriteInteger(kListPrintingKey, prefix + "_Color", band.color);
    reg.WriteText(kListPrintingKey, prefix + "_LeftText", band.left);
    reg.WriteText(kListPrintingKey, prefix + "_CenterText", band.center);
    reg.WriteText(kListPrintingKey, prefix + "_RightText", band.right);
    StoreFont(reg, prefix + "_Font_", band.font);
}

void ReplaceAll(std::string& text, const std::string& token, const std::string& value) {
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
        text.replace(at, token.size(), value);
}

}  // namespace

ListPrintLayout ResetListPrintLayout() {
    ListPrintLayout l;
    l.header.font = l.footer.font = DefaultFont(12, 400);
    l.header.left = "File : &&[File] - &&[Date] &&[Hour]";
    l.footer.center = "Page : &&[Page] / &&[Pages]";
    l.text_font = DefaultFont(14, 400);
    l.tab_header_font = DefaultFont(14, 700);
    l.columns = DefaultColumnSwitches();
    return l;
}

ListPrintLayout LoadListPrintLayout() {
    ListPrintLayout l = ResetListPrintLayout();
    AppRegistry reg;
    auto integer = [&](const char* name, int32_t& v) {
        v = int32_t(reg.ReadInteger(kListPrintingKey, name, v));
    };
    auto color = [&](const char* name, uint32_t& v) {
        v = uint32_t(reg.ReadInteger(kListPrintingKey, name, v)) & 0xFFFFFF;
    };
    integer("Margin_Left", l.margin_left);
    integer("Margin_Top", l.margin_top);
    integer("Margin_Right", l.margin_right);
    integer("Margin_Bottom", l.margin_bottom);
    integer("Margin_Cell", l.margin_cell);
    LoadBand(reg, "Header", l.header);
    LoadBand(reg, "Footer", l.footer);
    color("TabHeaderTextColor", l.tab_header_text_color);
    color("TabHeaderBackgroundColor", l.tab_header_background_color);
    color("TextColor", l.text_color);
    color("TextBackgroundColor0", l.text_background_color[0]);
    color("TextBackgroundColor1", l.text_background_color[1]);
    l.text_font = LoadFont(reg, "TextFont_", l.text_font);
    l.tab_header_font = LoadFont(reg, "TabHeaderFont_", l.tab_header_font);
    l.columns = LoadColumnSwitches();
    return l;
}

void StoreListPrintLayout(const ListPrintLayout& l) {
    AppRegistry reg;
    reg.WriteInteger(kListPrintingKey, "Margin_Left", l.margin_left);
    reg.WriteInteger(kListPrintingKey, "Margin_Top", l.margin_top);
    reg.WriteInteger(kListPrintingKey, "Margin_Right", l.margin_right);
    reg.WriteInteger(kListPrintingKey, "Margin_Bottom", l.margin_bottom);
    reg.WriteInteger(kListPrintingKey, "Margin_Cell", l.margin_cell);
    StoreBand(reg, "Header", l.header);
    StoreBand(reg, "Footer", l.footer);
    reg.WriteInteger(kListPrintingKey, "TabHeaderTextColor", l.tab_header_text_color);
    reg.WriteInteger(kListPrintingKey, "TabHeaderBackgroundColor", l.tab_header_background_color);
    reg.WriteInteger(kListPrintingKey, "TextColor", l.text_color);
    reg.WriteInteger(kListPrintingKey, "TextBackgroundColor0", l.text_background_color[0]);
    reg.WriteInteger(kListPrintingKey, "TextBackgroundColor1", l.text_background_color[1]);
    StoreFont(reg, "TextFont_", l.text_font);
    StoreFont(reg, "TabHeaderFont_", l.tab_header_font);
    for (int c = 1; c <= 10; ++c) reg.WriteBool(kListPrintingKey, std::to_string(c), l.columns[size_t(c)]);
}

bool IsColumnPrinted(const ListPrintLayout& layout, int column) {
    return column >= 1 && column <= 10 && layout.columns[size_t(column)];
}

std::string FillTemplate(const std::string& text, const std::string& file, std::time_t now,
                         int page, int pages) {
    std::string out = text;
    if (out.find("&&[") == std::string::npos) return out;
    std::tm tm{};
    localtime_r(&now, &tm);
    char date[64], clock[64];
    if (std::strftime(date, sizeof date, "%x", &tm) == 0) date[0] = '\0';
    if (std::strftime(clock, sizeof clock, "%X", &tm) == 0) clock[0] = '\0';
    // "&&[Pages]" before "&&[Page]", which is its beginning.
    ReplaceAll(out, "&&[Pages]", std::to_string(pages));
    ReplaceAll(out, "&&[Page]", std::to_string(page));
    ReplaceAll(out, "&&[File]", file);
    ReplaceAll(out, "&&[Date]", date);
    ReplaceAll(out, "&&[Hour]", clock);
    return out;
}

}  // namespace quorbel
