// Uuencoded text files as archives: every "begin" ... "end" block of the text is one member.
// Read natively; the only writing is UuEncodeFile, which encodes one whole file.
#pragma once

#include <cstdint>
#include <string>

#include "core/archive_handler.h"

namespace quorbel {

class UueArchive : public ArchiveHandler {
public:
    // Data lines of the classic format hold at most 45 bytes in 61 characters.
    static constexpr int kMaxLineBytes = 45;
    static constexpr size_t kMaxDataLine = 61;

    UueArchive();

    // Lists the blocks: 1, 2 aborted, 6 (message 21) when the file holds no well-formed block.
    int ReadDirectory() override;
    // Decodes one block; 12 (message 202) for a short data line or a block cut off early.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;

    bool CanExtract() override { return true; }

    // The member name of a "begin" line ("begin 644 name"): the first word after the mode,
    // without a drive prefix or leading separators; empty when the line is no block start.
    static std::string NameFromBeginLine(const std::string& line);
};

// Writes a uuencoded copy of `source_path` (named by its file name, mode 600) to `dest_path`.
// On failure or abort, false with the text to show in `message`; the destination then keeps
// whatever it held before.
bool UuEncodeFile(const std::string& source_path, const std::string& dest_path,
                  ProgressSink* sink, std::string& message);

// The destination the encode command proposes: the archive's path with its extension
// replaced by ".uue".
std::string UueTargetFor(const std::string& archive_path);

// The window-free part of encoding the open archive, once the destination is chosen: shows
// the encoding text, encodes, and leaves the text to show (success or failure) in `message`.
bool EncodeArchiveAsUue(const std::string& archive_path, const std::string& dest_path,
                        ProgressSink* sink, std::string& message);

}  // namespace quorbel
