// Unpacking the installer's resource archives: ZIP archives carried as resources of type "ZIP",
// read from memory and written member by member below a destination folder. Qt-free, so the
// installer needs Qt for its wait window only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorbel::installer {

inline constexpr const char* kArchiveResourceType = "ZIP";

// Folder and name joined with one '/': "folder" + name when the folder already ends with '/',
// "folder/name" otherwise; one leading '/' of the name is dropped. An empty folder gives the name
// alone, an empty name the folder alone.
std::string JoinPath(const std::string& folder, const std::string& name);

// Creates a folder and any missing parents; "/" counts as existing and a trailing '/' is
// dropped. True when the folder exists afterwards.
bool EnsureFolder(const std::string& path);

// Writes bytes to an open file; false on a short write. Replaceable so that tests can make a
// write fail part of the way.
using MemberWriter = std::function<bool(int fd, const uint8_t* data, size_t size)>;

// Extracts every member of a ZIP archive held in memory below dest_folder, member paths kept.
// A member is written only when it is complete and correct: its data lies inside the archive,
// it unpacks (stored or deflated) to exactly its recorded length and its CRC-32 matches; it goes
// to a temporary name first and is renamed into place only then. Members whose names would
// climb out of dest_folder, encrypted members and other methods are left out; empty members and
// folder entries are skipped, as there is nothing to write. *written_path (when given) is the
// last member written, "" when none. True when the archive was read and no member was left out.
bool ExtractArchiveBytes(const uint8_t* data, size_t size, const std::string& dest_folder,
                         std::string* written_path, const MemberWriter& writer = {});

// The archive of resource "ZIP" `id`, extracted as above. With only_if_missing, nothing happens
// when dest_folder joined with file_name can already be opened for reading (an existing file is
// never replaced); that counts as success. False when the resource is missing.
bool ExtractResourceArchive(int id, const std::string& dest_folder, const std::string& file_name,
                            bool only_if_missing, std::string* written_path);

}  // namespace quorbel::installer
