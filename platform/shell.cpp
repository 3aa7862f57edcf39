#include "platform/shell.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>

#include "platform/desktop/desktop_types.h"
#include "platform/own_library.h"

namespace quorbel {

namespace {

struct DesktopLibrary {
    DesktopQueryFn comment = nullptr, icon = nullptr, program = nullptr, entry = nullptr;
};

// Loaded once per run, on the first question; without it the desktop knows no types.
const DesktopLibrary& Desktop() {
    static DesktopLibrary library;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string why;
        void* handle = OpenOwnLibrary(OwnLibraryCandidates(kDesktopLibraryName, "QUORBEL_DESKTOP_LIBRARY"),
                                      {"QuorbelMimeTypeComment", "QuorbelMimeIconName",
                                       "QuorbelAssociatedProgramName", "QuorbelDefaultDesktopEntry"},
                                      why);
        if (!handle) return;
        auto bind = [handle](const char* name) { return reinterpret_cast<DesktopQueryFn>(dlsym(handle, name)); };
        library.comment = bind("QuorbelMimeTypeComment");
        library.icon = bind("QuorbelMimeIconName");
        library.program = bind("QuorbelAssociatedProgramName");
        library.entry = bind("QuorbelDefaultDesktopEntry");
    });
    return library;
}

std::string Ask(DesktopQueryFn query, const std::string& argument) {
    if (!query) return "";
    std::string answer(128, '\0');
    size_t size = query(argument.c_str(), answer.data(), answer.size());
    if (size > answer.size()) {
        answer.resize(size);
        size = query(argument.c_str(), answer.data(), answer.size());
    }
    answer.resize(std::min(size, answer.size()));
    return answer;
}

}  // namespace

std::string MimeTypeComment(const std::string& file_name) { return Ask(Desktop().comment, file_name); }

std::string MimeIconName(const std::string& file_name) { return Ask(Desktop().icon, file_name); }

std::string AssociatedProgramName(const std::string& file_name) { return Ask(Desktop().program, file_name); }

std::string DefaultDesktopEntry(const std::string& mime_type) { return Ask(Desktop().entry, mime_type); }

}  // namespace quorbel
