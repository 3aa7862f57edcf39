// The installer's reader of the archives it carries: a damaged or hostile archive must leave
// no file behind and never write outside the destination.
#include <filesystem>

#include "fuzz/fuzz_support.h"
#include "installer/resource_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorbel;
    const std::string& folder = fuzz::Scratch();
    const std::string dest = folder + "/dest";
    fuzz::EmptyFolder(folder);
    std::string written;
    installer::ExtractArchiveBytes(data, size, dest, &written);
    // Nothing may appear beside the destination.
    for (const auto& item : std::filesystem::directory_iterator(folder))
        if (item.path().filename() != "dest") std::abort();
    return 0;
}
