// A small model of an HTML page (head items; body elements: tables of rows and cells,
// paragraphs, text runs, links, meta items) that renders itself as text: upper-case tags and
// attributes, lines ending in "\r\n", colours as "#RRGGBB". Every text and every attribute
// value is escaped; the page is UTF-8 and says so.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/progress_sink.h"

namespace quorbel::html {

inline constexpr int kUnset = -1;
// Alignment attribute values, by index.
enum Align { kLeft = 0, kRight, kTop, kMiddle, kBottom, kTextTop, kAbsMiddle, kBaseline,
             kAbsBottom, kCenter };
const char* AlignName(int align);

// '&', '<', '>' and '"' as entities; everything else, multi-byte characters included, as it is.
std::string Escape(std::string_view text);
// The text of a run: escaped, and "\r\n" or a lone "\n" as "<BR>".
std::string EncodeText(std::string_view text);
// A colour reference (0x00BBGGRR) as "#RRGGBB".
std::string ColorValue(uint32_t color);

struct Length {
    int value = kUnset;
    bool percent = false;
};

class Element {
public:
    virtual ~Element() = default;
    virtual std::string Render() const = 0;
};

using Elements = std::vector<std::unique_ptr<Element>>;

class MetaItem : public Element {
public:
    enum Kind { kName = 0, kHttpEquiv = 1 };
    MetaItem(int kind, std::string name, std::string content)
        : kind(kind), name(std::move(name)), content(std::move(content)) {}
    std::string Render() const override;
    int kind;
    std::string name, content;
};

class TextRun : public Element {
public:
    explicit TextRun(std::string text = {}) : text(std::move(text)) {}
    std::string Render() const override;
    std::string text, face;
    int size = kUnset;
    int64_t color = kUnset;  // colour reference, or kUnset
    bool bold = false, italic = false, underline = false;
};

class Link : public Element {
public:
    explicit Link(std::string address = {}) : address(std::move(address)) {}
    std::string Render() const override;
    Element& AddElement(std::unique_ptr<Element> element);
    std::string address;
    Elements content;
};

class Paragraph : public Element {
public:
    std::string Render() const override;
    Element& AddElement(std::unique_ptr<Element> element);
    int align = kUnset;
    Elements elements;
};

class Cell : public Element {
public:
    std::string Render() const override;
    TextRun& AddRun(std::string text);
    Element& AddElement(std::unique_ptr<Element> element);
    int align = kUnset, valign = kUnset;
    Length width, height;
    bool no_wrap = false;
    int64_t bgcolor = kUnset;
    Elements content;
};

class Row {
public:
    Cell& AddCell();
    std::vector<std::unique_ptr<Cell>> cells;
};

class Table : public Element {
public:
    std::string Render() const override;
    Row& AddRow();
    int align = kUnset, border = kUnset, frame = kUnset, cellspacing = kUnset, cellpadding = kUnset;
    bool no_flow = false;
    Length width, height;
    int64_t border_color_dark = kUnset, border_color_light = kUnset, bgcolor = kUnset;
    std::vector<std::unique_ptr<Row>> rows;
};

class Page {
public:
    void AddHeadItem(std::unique_ptr<Element> item) { head.push_back(std::move(item)); }
    Element& AddBodyElement(std::unique_ptr<Element> element);
    // The whole page (`with_frame`), or only the body elements. Progress: one step per body
    // element, "Generating HTML code...". Nothing when the user stopped.
    std::string RenderPage(ProgressSink& progress, bool with_frame) const;
    // Renders and writes the page byte for byte; false when the file cannot be written or the
    // user stopped (no file is left then).
    bool WritePage(const std::string& path, ProgressSink& progress) const;

    std::string title, background;
    int64_t bgcolor = kUnset, text = kUnset, link = kUnset, alink = kUnset, vlink = kUnset;
    Elements head, body;
};

}  // namespace quorbel::html
