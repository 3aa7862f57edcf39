// Text encodings of names stored by DOS-era archivers.
#pragma once

#include <string>
#include <string_view>

namespace quorbel {

bool IsValidUtf8(std::string_view text);
// IBM code page 437 (the DOS default) to UTF-8.
std::string Cp437ToUtf8(std::string_view text);
// ISO 8859-1 to UTF-8.
std::string Latin1ToUtf8(std::string_view text);
// UTF-8 when it is valid UTF-8, else code page 437.
std::string GuessToUtf8(std::string_view text);

}  // namespace quorbel
