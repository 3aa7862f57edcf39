// The names of the volumes that follow a RAR volume.
//
// Two schemes exist: the older one counts in the extension (.rar, .r00 … .r99, .s00 …) and
// the newer one counts in the name ("set.part1.rar", "set.part2.rar" …, keeping the digits'
// width, so part09 is followed by part10).
#pragma once

#include <string>

namespace quorbel::rar {

// The volume after `path` in the extension-counting scheme: no extension → ".rar"; an empty
// or "exe" extension → "rar"; an extension whose second and third characters are digits
// counts up (r99 → s00); any other extension ends in "00" (rar → r00).
std::string NextVolumeNameOld(const std::string& path);

// The volume after `path` in the part-number scheme: the last run of digits before the
// extension counts up; "" when the name holds no such digits.
std::string NextVolumeNameNew(const std::string& path);

// The first volume of the set `path` belongs to in the part-number scheme (part1, part01 …),
// or "" when the name is not of that form.
std::string FirstVolumeNameNew(const std::string& path);

}  // namespace quorbel::rar
