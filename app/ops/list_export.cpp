#include "app/ops/list_export.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/ops/html_page.h"
#include "app/ops/list_layout.h"
#include "app/ops/member_path.h"
#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/status.h"
#include "platform/registry_access.h"

namespace quorbel {

ColumnSwitches DefaultColumnSwitches() {
    ColumnSwitches on{};
    for (int c : {1, 2, 4, 5, 6, 9}) on[size_t(c)] = true;
    return on;
}

ColumnSwitches LoadColumnSwitches() {
    ColumnSwitches defaults = DefaultColumnSwitches(), on{};
    AppRegistry reg;
    for (int c = 1; c <= 10; ++c)
        on[size_t(c)] = reg.ReadBool("Options\\ListPrinting", std::to_string(c), defaults[size_t(c)]);
    return on;
}

const std::string& ColumnText(const ArchiveEntry& e, int column, std::string& scratch) {
    switch (column) {
    case 1: scratch.assign(e.NamePart()); return scratch;
    case 2: return scratch = e.SizeText();
    case 3: return e.TypeText();
    case 4: return e.DateText();
    case 5: return scratch = e.RatioText();
    case 6: return scratch = e.PackedText();
    case 7: return scratch = e.CrcText();
    case 8: return scratch = e.AttributeText();
    case 9: return scratch = DisplayPath(e.Folder());
    case 10: return e.comment;
    default: scratch.clear(); return scratch;
    }
}

std::string ColumnTitle(int column) { return StringById(text_id::kColumnFirst + column); }

bool IsRightAligned(int column) { return column == 2 || column == 5 || column == 6; }

namespace {
// Padding counts characters, not bytes, so UTF-8 names line up.
size_t TextWidth(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string Upper(const std::string& s) {
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c < 0x80) {
            out[i] = char(std::toupper(c));
        } else if (c == 0xC3 && i + 1 < out.size()) {
            // Latin-1 letters à..þ (except ÷) have their capitals 0x20 below, in UTF-8 too.
            unsigned char next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0xA0 && next <= 0xBE && next != 0xB7) out[i + 1] = char(next - 0x20);
            ++i;
        }
    }
    return out;
}

// A line feed or TAB inside a name or a note would split the row or the field; every export
// writes control characters escaped.
std::string ExportText(const ArchiveEntry& e, int column, std::string& scratch) {
    return EscapeControlCharacters(ColumnText(e, column, scratch));
}

void AppendPadded(std::string& out, const std::string& text, size_t width, bool right) {
    size_t pad = width > TextWidth(text) ? width - TextWidth(text) : 0;
    if (right) out.append(pad, ' ');
    out += text;
    if (!right) out.append(pad, ' ');
    out += "  ";
}
}  // namespace

std::unique_ptr<html::Page> BuildListPage(const std::vector<const ArchiveEntry*>& rows,
                                          const ColumnSwitches& columns,
                                          const ListPrintLayout& layout, const HtmlExportInfo& info) {
    std::vector<int> cols;
    for (int c = 1; c <= 10; ++c)
        if (columns[size_t(c)]) cols.push_back(c);
    // Shares of the on-screen widths; without a list on screen (the command line), or when
    // every shown column is zero wide, the columns share the width equally.
    int64_t total = 0;
    for (int c : cols)
        if (size_t(c) < info.widths.size() && info.widths[size_t(c)] > 0) total += info.widths[size_t(c)];
    std::vector<int> percent;
    for (int c : cols) {
        const int64_t w = size_t(c) < info.widths.size() ? std::max(0, info.widths[size_t(c)]) : 0;
        percent.push_back(total > 0 ? int(w * 100 / total) : int(100 / cols.size()));
    }

    auto page = std::make_unique<html::Page>();
    page->title = info.title;
    auto table = std::make_unique<html::Table>();
    table->width = {100, true};
    table->border = 0;
    table->cellspacing = 0;
    table->cellpadding = layout.margin_cell;
    auto style = [](html::TextRun& run, const LogFont& font, uint32_t color) {
        run.face = font.face;
        run.color = color;
        run.bold = font.weight >= 600;
        run.italic = font.italic != 0;
        run.underline = font.underline != 0;
    };
    if (!cols.empty()) {
        html::Row& titles = table->AddRow();
        for (size_t k = 0; k < cols.size(); ++k) {
            html::Cell& cell = titles.AddCell();
            cell.width = {percent[k], true};
            cell.bgcolor = layout.tab_header_background_color;
            if (IsRightAligned(cols[k])) cell.align = html::kRight;
            style(cell.AddRun(ColumnTitle(cols[k])), layout.tab_header_font, layout.tab_header_text_color);
        }
    }
    std::string scratch;
    for (size_t r = 0; r < rows.size(); ++r) {
        html::Row& row = table->AddRow();
        for (int c : cols) {
            html::Cell& cell = row.AddCell();
            cell.bgcolor = layout.text_background_color[r % 2];
            if (IsRightAligned(c)) cell.align = html::kRight;
            style(cell.AddRun(ColumnText(*rows[r], c, scratch)), layout.text_font, layout.text_color);
        }
    }
    page->AddBodyElement(std::move(table));
    return page;
}

std::string ProposedExportName(const std::string& archive_path, ExportKind kind) {
    const char* extension = kind == ExportKind::Html ? "HTM" : kind == ExportKind::Comma ? "CSV" : "TXT";
    const size_t slash = archive_path.rfind('/');
    const size_t dot = archive_path.rfind('.');
    const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (has_extension ? archive_path.substr(0, dot) : archive_path) + "." + extension;
}

bool ExportList(const std::vector<const ArchiveEntry*>& rows, const ColumnSwitches& columns,
                ExportKind kind, const std::string& line_end, std::string& out, ProgressSink& sink,
                const HtmlExportInfo* html) {
    if (kind == ExportKind::Html) {
        const HtmlExportInfo none;
        const HtmlExportInfo& info = html ? *html : none;
        const ListPrintLayout layout = info.layout ? *info.layout : LoadListPrintLayout();
        const auto page = BuildListPage(rows, columns, layout, info);
        out = page->RenderPage(sink, true);
        return !out.empty();
    }
    std::vector<int> cols;
    for (int c = 1; c <= 10; ++c)
        if (columns[size_t(c)]) cols.push_back(c);
    const size_t step = size_t(ProgressStep(rows.size()));
    std::string scratch;
    sink.Begin();
    sink.SetRange(0, int64_t(rows.size()));
    bool done = true;
    if (kind == ExportKind::FormattedText) {
        std::vector<size_t> width(cols.size());
        for (size_t k = 0; k < cols.size(); ++k) {
            width[k] = TextWidth(ColumnTitle(cols[k]));
            for (const ArchiveEntry* e : rows)
                width[k] = std::max(width[k], TextWidth(ExportText(*e, cols[k], scratch)));
        }
        for (size_t k = 0; k < cols.size(); ++k)
            AppendPadded(out, Upper(ColumnTitle(cols[k])), width[k], IsRightAligned(cols[k]));
        out += line_end;
        for (size_t r = 0; r < rows.size(); ++r) {
            if (r % step == 0 && sink.SetPos(int64_t(r)) == 0) {
                done = false;
                break;
            }
            for (size_t k = 0; k < cols.size(); ++k)
                AppendPadded(out, ExportText(*rows[r], cols[k], scratch), width[k], IsRightAligned(cols[k]));
            out += line_end;
        }
    } else {
        const char sep = kind == ExportKind::Comma ? ',' : '\t';
        for (size_t r = 0; r < rows.size(); ++r) {
            if (r % step == 0 && sink.SetPos(int64_t(r)) == 0) {
                done = false;
                break;
            }
            for (size_t k = 0; k < cols.size(); ++k) {
                if (k) out += sep;
                std::string value = ExportText(*rows[r], cols[k], scratch);
                std::replace(value.begin(), value.end(), sep, ' ');
                out += value;
            }
            out += line_end;
        }
    }
    sink.End(0);
    return done;
}

int ExportListToFile(const std::string& path, const std::vector<const ArchiveEntry*>& rows,
                     const ColumnSwitches& columns, ExportKind kind, ProgressSink& sink,
                     const HtmlExportInfo* html) {
    std::string text;
    if (!ExportList(rows, columns, kind, "\r\n", text, sink, html)) return kStatusAborted;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return kStatusCannotCreate;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(path.c_str());
        return kStatusCannotCreate;
    }
    return kStatusOk;
}

}  // namespace quorbel
