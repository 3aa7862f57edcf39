// Turning an open archive into a self-extracting program: a stub program followed by the archive.
// ZIP archives take the built-in stub (quorbel-sfx, carried as resource "ZIP" 269), a stub file of
// the user's, or an external program that does the whole job; other formats make their own
// self-extractor through their handler.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorbel {

class ArchiveHandler;

inline constexpr const char* kMakeExeKey = "Options\\MakeEXE";

// ".run": the customary name of a self-extracting program on Linux; ".exe" would make file
// managers offer Wine for a program that is a native ELF file.
inline constexpr const char* kSelfExtractorExtension = ".run";
inline constexpr int kSfxStubResource = 269;

struct SfxSettings {
    int type = 0;             // "Type": 0 built-in stub, 1 stub file, 2 external program
    std::string boot_block;   // "BootBlock": the stub file of type 1
    std::string path;         // "Path": the external program of type 2

    static SfxSettings Load();
    void Store() const;
};

// "Executable Files (*.run)|*.run|All Files (*.*)|*.*||" with our extension.
std::string SelfExtractorFilter();

// The archive path less its extension plus the self-extractor extension.
std::string ProposedSelfExtractorName(const std::string& archive_path);

// The built-in stub: the first member of the carried archive 269. None, with `message` set,
// when the program lacks it or it cannot be unpacked.
std::optional<std::vector<uint8_t>> BuiltInStub(std::string& message);

// What the operation needs from a person or a desktop; the window answers with dialogs, the
// command line with its arguments.
struct SfxCallbacks {
    // The save dialog "Create .exe" with a proposal; none when cancelled.
    std::function<std::optional<std::string>(const std::string& proposal)> choose_output;
    // Starts the external program of type 2 with the archive as its one argument and waits;
    // its exit status, or -1 when it could not be started.
    std::function<int(const std::string& program, const std::string& archive)> run_program;
};

enum class SfxOutcome { Created, ExternalDone, Cancelled, Failed };

// Makes the self-extractor of `handler` at `output_path` (empty: asked through the callbacks).
// `message` gets the text to show: the success text, or why nothing was made. The new program
// is written beside its final name and renamed when complete, mode 0777 less the umask.
// `settings` replaces the stored "Options\MakeEXE\" values when given.
SfxOutcome MakeSelfExtractor(ArchiveHandler& handler, const std::string& output_path,
                             const SfxCallbacks& callbacks, std::string& message,
                             std::string* made_path = nullptr,
                             const SfxSettings* settings = nullptr);

}  // namespace quorbel
