// Member paths as people read and type them. Inside the program a member's path keeps '\'
// between its folders (ArchiveEntry::full_name); everything a person reads shows '/', and
// everything a person types may use either.
#pragma once

#include <string>
#include <string_view>

namespace quorbel {

// A stored path ('\' separated) as shown: every '\' becomes '/'.
std::string DisplayPath(std::string_view stored);

// A typed path as stored: '/' and '\' both separate folders and become '\'; runs of separators
// collapse to one, and separators at either end go.
std::string StoredPath(std::string_view typed);

// A value of a delimited export (CSV, tab-separated): control characters would end the field
// or the row, so they are written C-style: TAB as \t, line feed as \n, carriage return as \r,
// any other byte below 0x20 and DEL as \xHH (two upper-case hex digits); a backslash itself is
// doubled, so that every escape reads back one way.
std::string EscapeControlCharacters(std::string_view value);

}  // namespace quorbel
