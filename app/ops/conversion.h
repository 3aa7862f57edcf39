// Archive conversion without a window: every source archive is opened with the format table,
// unpacked into a private folder and packed again by the target format's handler. The target
// is built under a temporary name beside the output and renamed over it only when complete, so
// a failed build never costs the old output, nor the source when both are one file.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/archive_handler.h"
#include "core/progress_sink.h"

namespace quorbel {

// The output formats in their list order; the index is the stored "Format" value.
struct ConvertTarget {
    const char* shown;      // "ZIP", "ARJ", ...
    const char* extension;  // ".zip", ".arj", ...
};
const std::vector<ConvertTarget>& ConvertTargets();
// The index of a format by its shown name, any letter case; -1 when there is none.
int ConvertFormatByName(const std::string& name);
// A new, empty handler of the target format; none when this build cannot write it.
std::unique_ptr<ArchiveHandler> NewConvertTarget(int format);

struct ConversionOptions {
    int format = 0;
    std::string output_folder;
    bool rename_on_collision = true;  // "bRenameOnCollision"
};

struct ConversionLine {
    std::string source;
    std::string output;  // written archive, empty when none
    std::string label;   // "Converting: "%s""
    std::string status;  // "OK", the warning, or the failure's message
    bool error = false;
    int skipped = 0;     // members extraction left out
};

struct ConversionResult {
    // A missing archiver for the target: nothing was converted, and this is the one message.
    std::string stop_message;
    std::vector<ConversionLine> lines;
    std::vector<size_t> converted;  // indices of the sources converted
    int errors = 0;
    bool aborted = false;
    std::string report;  // the title, one padded line per archive, the summary
};

// Converts every source in order. Questions (a password for encrypted members) go through
// Prompts(); the program-wide password is cleared for each source and restored afterwards.
ConversionResult ConvertArchives(const std::vector<std::string>& sources,
                                 const ConversionOptions& options, ProgressSink& sink,
                                 std::time_t now);

// Where a source's output goes: the output folder, the source's name without its extension,
// the target's extension; with rename_on_collision " (1)", " (2)"... until the name is free.
std::string ConversionOutputPath(const std::string& source, const ConversionOptions& options);

}  // namespace quorbel
