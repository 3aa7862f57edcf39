#include "platform/own_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace quorbel {

std::string ProgramFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    const std::string path(buffer, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> OwnLibraryCandidates(const char* file_name, const char* env_variable) {
    const char* forced = std::getenv(env_variable);
    if (forced && *forced) return {forced};
    std::vector<std::string> list;
    const std::string folder = ProgramFolder();
    if (!folder.empty()) {
        list.push_back(folder + "/" + file_name);
        list.push_back(folder + "/../lib/" + file_name);
    }
    list.push_back(file_name);
    return list;
}

void* OpenOwnLibrary(const std::vector<std::string>& candidates, std::initializer_list<const char*> symbols,
                     std::string& why) {
    why.clear();
    for (const std::string& candidate : candidates) {
        // A path is tried only where a file is; the bare name goes to the loader's search.
        if (candidate.find('/') != std::string::npos && access(candidate.c_str(), F_OK) != 0) {
            if (why.empty()) why.append(candidate).append(": ").append(std::strerror(ENOENT));
            continue;
        }
        void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* e = dlerror();
            why = e ? e : candidate;
            continue;
        }
        bool complete = true;
        for (const char* symbol : symbols) complete = complete && dlsym(library, symbol) != nullptr;
        if (!complete) {
            why.assign(candidate).append(": an entry point is missing");
            dlclose(library);
            continue;
        }
        return library;
    }
    return nullptr;
}

}  // namespace quorbel
