// A gzip file shown as an archive of one member. Read-only: everything but listing and
// unpacking keeps the base behaviour (message 207 naming "GZ").
#pragma once

#include <cstdint>
#include <string>

#include "core/archive_handler.h"

namespace quorbel {

class GzArchive : public ArchiveHandler {
public:
    GzArchive();

    // 1; 6 (message 21) when the file does not start with a gzip header; 3 (message 22) when
    // the header is cut short.
    int ReadDirectory() override;
    // The whole decompressed data of every gzip member in the file, one after the other.
    // Every member's CRC-32 and length are checked: damage gives status 12 (message 202),
    // never the part decoded before it; no output at all gives message 23.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    bool CanExtract() override { return true; }

    // The member's name when the header stores none: the archive's file name without its
    // extension ("report.txt.gz" -> "report.txt"; "x.tgz" and "x.taz" -> "x.tar").
    static std::string DefaultMemberName(const std::string& archive_path);
};

}  // namespace quorbel
