#include "app/ops/list_export.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "app/ops/member_path.h"
#include "core/messages.h"
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

bool ExportList(const std::vector<const ArchiveEntry*>& rows, const ColumnSwitches& columns,
                ExportKind kind, const std::string& line_end, std::string& out, ProgressSink& sink) {
    std::vector<int> cols;
    for (int c = 1; c <= 10; ++c)
        if (columns[size_t(c)]) cols.push_back(c);
    const size_t step = size_t(std::sqrt(double(rows.size()))) + 1;
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
                     const ColumnSwitches& columns, ExportKind kind, ProgressSink& sink) {
    std::string text;
    if (!ExportList(rows, columns, kind, "\r\n", text, sink)) return kStatusAborted;
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
