// The single-instance blocks another process writes into the runtime folder: the command line
// block and the shell command block, read from their files and parsed.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "platform/instance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    fuzz::Scratch();
    const std::vector<uint8_t> payload(data, data + size);
    ParseCommandLineBlock(payload);
    if (auto block = ParseShellCommandBlock(payload)) {
        // What was understood must survive being written again.
        auto again = ParseShellCommandBlock(MakeShellCommandBlock(*block));
        if (!again || again->type != block->type || again->paths != block->paths) {
            std::fprintf(stderr, "shell command block does not round-trip\n");
            std::abort();
        }
    }
    // The same bytes as the files themselves, length field and all.
    for (const char* format : {"QuorbelString", "Quorbel"}) {
        const std::string path = ClipboardBlockPath(format);
        if (path.empty() || !fuzz::WriteBytes(path, data, size)) continue;
        if (auto read = ReadClipboardBlock(format)) {
            ParseCommandLineBlock(*read);
            ParseShellCommandBlock(*read);
        }
    }
    return 0;
}
