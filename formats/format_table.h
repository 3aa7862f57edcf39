// Which handler serves a file: the openers are tried in a fixed order and the first handler
// whose Open succeeds wins. There is no choice by extension, so a ZIP with any name (a
// self-extractor, say) opens as ZIP because ZIP is tried first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/archive_handler.h"

namespace quorbel {

using Opener = std::unique_ptr<ArchiveHandler> (*)(const std::string& path, int& status,
                                                   ProgressSink* sink);

struct FormatRow {
    int order;         // the format's fixed place: 1 ZIP, 2 ARJ, 3 LHA, 4 ZOO, 5 RAR, 6 UUE,
                       // 7 GZ, 8 TAR, 9 ACE, 10 CAB, 11 JAR
    const char* name;  // the handler's format name
    Opener open;
};

// The formats this build reads, in their order.
const std::vector<FormatRow>& FormatTable();

// Tries every opener in order; stops when one succeeds or the user aborts (status 2). When
// none succeeds, status is the last opener's. `message`, when given, receives the reason to
// show: the message of a format that recognised the file but could not read it (a damaged
// archive, a missing file), else "Unknown archive format...".
std::unique_ptr<ArchiveHandler> OpenArchiveFile(const std::string& path, int& status,
                                                ProgressSink* sink = nullptr,
                                                std::string* message = nullptr);

// An archive by its extension, or a file whose end record points at a central directory.
bool IsArchiveFile(const std::string& path);
// An archive, a picture or an HTML page by its extension.
bool IsKnownFile(const std::string& path);

}  // namespace quorbel
