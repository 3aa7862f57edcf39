// Helpers shared by every test suite: private folders, peer tools, sample files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorbel::test {

// A fresh folder below $TMPDIR, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_old_;
};

// A private settings store and temporary folder for the lifetime of the object: handlers read
// settings and make scratch folders when they are constructed.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    const TempDir& dir() const { return dir_; }
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    ScopedEnv registry_;
    ScopedEnv tmp_;
    ScopedEnv data_home_;
    ScopedEnv config_home_;
    ScopedEnv runtime_;
};

struct CommandResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs argv (no shell) in `cwd` (empty: current folder), feeding `input` on stdin.
CommandResult Run(const std::vector<std::string>& argv, const std::string& cwd = "",
                  const std::string& input = "");

// True when `tool` is on PATH.
bool HaveTool(const std::string& tool);

// Full path of a file in the shared sample folder.
std::string TestData(const std::string& relative);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
void SetMtime(const std::string& path, int64_t seconds_since_1970);

}  // namespace quorbel::test

#define QUORBEL_REQUIRE_TOOL(tool)                                            \
    do {                                                                      \
        if (!::quorbel::test::HaveTool(tool))                                 \
            GTEST_SKIP() << "peer tool '" << (tool) << "' is not installed";  \
    } while (0)
