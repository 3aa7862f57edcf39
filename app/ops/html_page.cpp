#include "app/ops/html_page.h"

#include "app/ops/desktop_entry.h"

#include <cstdio>

#include "core/messages.h"
#include "core/progress_sink.h"

namespace quorbel::html {

namespace {

constexpr const char* kEol = "\r\n";

// One attribute: a blank, the name, '=' and the escaped value in double quotes.
void Attribute(std::string& out, const char* name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    out += Escape(value);
    out += '"';
}

void IntAttribute(std::string& out, const char* name, int value) {
    if (value != kUnset) Attribute(out, name, std::to_string(value));
}

void ColorAttribute(std::string& out, const char* name, int64_t color) {
    if (color != kUnset) Attribute(out, name, ColorValue(uint32_t(color)));
}

void AlignAttribute(std::string& out, const char* name, int align) {
    if (align != kUnset && AlignName(align)[0]) Attribute(out, name, AlignName(align));
}

void LengthAttribute(std::string& out, const char* name, const Length& length) {
    if (length.value != kUnset)
        Attribute(out, name, std::to_string(length.value) + (length.percent ? "%" : ""));
}

void Flag(std::string& out, const char* name, bool on) {
    if (!on) return;
    out += ' ';
    out += name;
}

std::string RenderAll(const Elements& elements) {
    std::string out;
    for (const auto& e : elements) out += e->Render();
    return out;
}

}  // namespace

const char* AlignName(int align) {
    static const char* const kNames[] = {"LEFT", "RIGHT", "TOP", "MIDDLE", "BOTTOM", "TEXTTOP",
                                         "ABSMIDDLE", "BASELINE", "ABSBOTTOM", "CENTER"};
    return align >= 0 && align < int(std::size(kNames)) ? kNames[align] : "";
}

std::string Escape(std::string_view text) { return xdg::XmlText(text); }

std::string EncodeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "<BR>";
            ++i;
        } else if (text[i] == '\n') {
            out += "<BR>";
        } else {
            out += Escape(text.substr(i, 1));
        }
    }
    return out;
}

std::string ColorValue(uint32_t color) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", color & 0xFF, (color >> 8) & 0xFF,
                  (color >> 16) & 0xFF);
    return text;
}

std::string MetaItem::Render() const {
    std::string out = "<META";
    if (!name.empty()) Attribute(out, kind == kHttpEquiv ? "HTTP-EQUIV" : "NAME", name);
    if (!content.empty()) Attribute(out, "CONTENT", content);
    out += ">";
    return out;
}

std::string TextRun::Render() const {
    std::string out;
    const bool font = !face.empty() || size != kUnset || color != kUnset;
    if (font) {
        // The first attribute's own blank follows the one after FONT.
        std::string attributes;
        IntAttribute(attributes, "SIZE", size);
        ColorAttribute(attributes, "COLOR", color);
        if (!face.empty()) Attribute(attributes, "FACE", face);
        out += "<FONT " + attributes + ">";
    }
    if (bold) out += "<B>";
    if (italic) out += "<I>";
    if (underline) out += "<U>";
    out += EncodeText(text);
    if (bold) out += "</B>";
    if (italic) out += "</I>";
    if (underline) out += "</U>";
    if (font) out += "</FONT>";
    return out;
}

Element& Link::AddElement(std::unique_ptr<Element> element) {
    content.push_back(std::move(element));
    return *content.back();
}

std::string Link::Render() const {
    if (address.empty()) return RenderAll(content);
    return "<A HREF=\"" + Escape(address) + "\">" + RenderAll(content) + "</A>";
}

Element& Paragraph::AddElement(std::unique_ptr<Element> element) {
    elements.push_back(std::move(element));
    return *elements.back();
}

std::string Paragraph::Render() const {
    std::string out;
    const bool aligned = align != kUnset;
    if (aligned) {
        out += "<P ";
        AlignAttribute(out, "ALIGN", align);
        out += ">";
    }
    out += RenderAll(elements);
    if (aligned) out += "</P>";
    return out;
}

TextRun& Cell::AddRun(std::string text) {
    auto run = std::make_unique<TextRun>(std::move(text));
    TextRun& ref = *run;
    content.push_back(std::move(run));
    return ref;
}

Element& Cell::AddElement(std::unique_ptr<Element> element) {
    content.push_back(std::move(element));
    return *content.back();
}

std::string Cell::Render() const {
    std::string out = kEol;
    out += "<TD";
    AlignAttribute(out, "ALIGN", align);
    AlignAttribute(out, "VALIGN", valign);
    LengthAttribute(out, "WIDTH", width);
    LengthAttribute(out, "HEIGHT", height);
    Flag(out, "NOWRAP", no_wrap);
    ColorAttribute(out, "BGCOLOR", bgcolor);
    out += ">";
    out += RenderAll(content);
    out += "</TD>";
    return out;
}

Cell& Row::AddCell() {
    cells.push_back(std::make_unique<Cell>());
    return *cells.back();
}

Row& Table::AddRow() {
    rows.push_back(std::make_unique<Row>());
    return *rows.back();
}

std::string Table::Render() const {
    std::string out;
    const bool aligned = align != kUnset && AlignName(align)[0];
    if (aligned) {
        out += "<DIV";
        AlignAttribute(out, "ALIGN", align);
        out += "><";
        out += AlignName(align);
        out += ">";
        out += kEol;
    }
    out += "<TABLE";
    IntAttribute(out, "BORDER", border);
    IntAttribute(out, "FRAME", frame);
    IntAttribute(out, "CELLSPACING", cellspacing);
    IntAttribute(out, "CELLPADDING", cellpadding);
    Flag(out, "NOFLOW", no_flow);
    LengthAttribute(out, "WIDTH", width);
    LengthAttribute(out, "HEIGHT", height);
    AlignAttribute(out, "ALIGN", align);
    ColorAttribute(out, "BORDERCOLORDARK", border_color_dark);
    ColorAttribute(out, "BORDERCOLORLIGHT", border_color_light);
    ColorAttribute(out, "BGCOLOR", bgcolor);
    out += ">";
    out += kEol;
    for (const auto& row : rows) {
        if (row->cells.empty()) continue;
        out += "<TR>";
        for (const auto& cell : row->cells) {
            out += cell->Render();
            out += kEol;
        }
        out += "</TR>";
        out += kEol;
    }
    out += "</TABLE>";
    if (aligned) {
        out += kEol;
        out += "</";
        out += AlignName(align);
        out += "></DIV>";
    }
    return out;
}

Element& Page::AddBodyElement(std::unique_ptr<Element> element) {
    body.push_back(std::move(element));
    return *body.back();
}

std::string Page::RenderPage(ProgressSink& progress, bool with_frame) const {
    std::string out;
    if (with_frame) {
        out += "<HTML>";
        out += kEol;
        out += kEol;
        out += "<HEAD>";
        out += kEol;
        // Names are UTF-8; a reader that guessed Latin-1 would garble every other language.
        out += MetaItem(MetaItem::kHttpEquiv, "Content-Type", "text/html; charset=utf-8").Render();
        out += kEol;
        out += "<TITLE>" + Escape(title) + "</TITLE>";
        out += kEol;
        for (const auto& item : head) {
            out += item->Render();
            out += kEol;
        }
        out += "</HEAD>";
        out += kEol;
        out += kEol;
        out += "<BODY";
        if (!background.empty()) Attribute(out, "BACKGROUND", background);
        ColorAttribute(out, "BGCOLOR", bgcolor);
        ColorAttribute(out, "TEXT", text);
        ColorAttribute(out, "LINK", link);
        ColorAttribute(out, "ALINK", alink);
        ColorAttribute(out, "VLINK", vlink);
        out += ">";
    }
    ProgressScope scope(&progress);
    progress.SetTextById(text_id::kGeneratingHtml);
    progress.SetRange(0, int64_t(body.size()));
    const size_t step = size_t(ProgressStep(body.size()));
    for (size_t i = 0; i < body.size(); ++i) {
        if (i % step == 0 && progress.SetPos(int64_t(i)) == 0) return {};
        out += body[i]->Render();
    }
    progress.SetPos(int64_t(body.size()));
    if (with_frame) {
        out += kEol;
        out += "</BODY>";
        out += kEol;
        out += kEol;
        out += "</HTML>";
    }
    return out;
}

bool Page::WritePage(const std::string& path, ProgressSink& progress) const {
    const std::string text = RenderPage(progress, true);
    if (text.empty()) return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::remove(path.c_str());
    return ok;
}

}  // namespace quorbel::html
