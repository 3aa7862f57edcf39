#include "platform/file_system.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace quorbel {

namespace fs = std::filesystem;

namespace {
constexpr const char* kDosAttrName = "user.quorbel.dosattrib";

std::string NearestExisting(const std::string& path) {
    fs::path p = path.empty() ? fs::path(".") : fs::path(path);
    std::error_code ec;
    while (!p.empty() && !fs::exists(p, ec)) {
        fs::path parent = p.parent_path();
        if (parent == p) break;
        p = parent;
    }
    return p.empty() ? std::string(".") : p.string();
}

std::string AbsoluteOf(const std::string& path) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

bool UnderRoot(const std::string& path, const std::string& root) {
    if (root.empty()) return false;
    std::string r = AbsoluteOf(root);
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    std::string p = AbsoluteOf(path);
    return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 &&
                      (r == "/" || p[r.size()] == '/'));
}
}  // namespace

int64_t FreeSpace(const std::string& path) {
    struct statvfs st{};
    // The folder usually exists: ask for it first, its nearest existing parent otherwise.
    if (statvfs(path.c_str(), &st) != 0 &&
        ((errno != ENOENT && errno != ENOTDIR) || statvfs(NearestExisting(path).c_str(), &st) != 0))
        return -1;
    return int64_t(st.f_bavail) * int64_t(st.f_frsize);
}

std::string MountPointOf(const std::string& path) {
    std::string target = AbsoluteOf(NearestExisting(path));
    std::ifstream mounts("/proc/self/mounts");
    std::string line, best = "/";
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mount_point;
        fields >> device >> mount_point;
        if (UnderRoot(target, mount_point) && mount_point.size() > best.size()) best = mount_point;
    }
    return best;
}

bool IsRemovable(const std::string& path) {
    if (const char* roots = std::getenv("QUORBEL_REMOVABLE_ROOTS")) {
        std::stringstream list(roots);
        std::string root;
        while (std::getline(list, root, ':'))
            if (UnderRoot(path, root)) return true;
    }
    struct stat st{};
    if (stat(NearestExisting(path).c_str(), &st) != 0) return false;
    // /sys/dev/block/MAJ:MIN is the partition; its parent device carries "removable".
    std::string dev = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                      std::to_string(minor(st.st_dev));
    std::error_code ec;
    fs::path real = fs::canonical(dev, ec);
    if (ec) return false;
    for (fs::path p = real; p.has_parent_path() && p != p.parent_path(); p = p.parent_path()) {
        std::ifstream flag(p / "removable");
        int value = 0;
        if (flag >> value) return value == 1;
    }
    return false;
}

uint32_t GetDosAttributes(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return 0;
    uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode)) attrs |= kAttrFolder;
    if (!(st.st_mode & S_IWUSR)) attrs |= kAttrReadOnly;
    std::string name = fs::path(path).filename().string();
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") attrs |= kAttrHidden;
    unsigned char stored = 0;
    ssize_t got = getxattr(path.c_str(), kDosAttrName, &stored, 1);
    if (got == 1)
        attrs |= stored & (kAttrArchive | kAttrSystem);
    else if (!S_ISDIR(st.st_mode))
        attrs |= kAttrArchive;
    return attrs;
}

bool SetDosAttributes(const std::string& path, uint32_t attributes) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
        mode &= mode_t(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    if (mode != (st.st_mode & 07777) && chmod(path.c_str(), mode) != 0) return false;
    unsigned char stored = static_cast<unsigned char>(attributes & (kAttrArchive | kAttrSystem));
    // Not every file system keeps user attributes; the bits are then simply not remembered.
    setxattr(path.c_str(), kDosAttrName, &stored, 1, 0);
    return true;
}

bool SetDosAttributes(int fd, unsigned mode, uint32_t attributes) {
    mode &= 07777;
    if (attributes & kAttrReadOnly)
        mode &= ~unsigned(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (fchmod(fd, mode_t(mode)) != 0) return false;
    const unsigned char stored = static_cast<unsigned char>(attributes & (kAttrArchive | kAttrSystem));
    if (stored == kAttrArchive)
        fremovexattr(fd, kDosAttrName);
    else
        fsetxattr(fd, kDosAttrName, &stored, 1, 0);
    return true;
}

bool SetFileTime(const std::string& path, std::time_t modified) {
    timespec times[2];
    times[0].tv_sec = modified;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::time_t FileTime(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtime;
}

bool FileExists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

namespace {
bool ValidShortChar(unsigned char c) {
    return std::isalnum(c) || std::strchr("$%'-_@~`!(){}^#&", c) != nullptr || c >= 0x80;
}

std::string ShortComponent(const std::string& name) {
    if (name == "." || name == "..") return name;
    std::string base = name, ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        base = name.substr(0, dot);
        ext = name.substr(dot + 1);
    }
    bool lossy = false;
    auto clean = [&](const std::string& s) {
        std::string out;
        for (unsigned char c : s) {
            if (c == ' ' || c == '.') {
                lossy = true;
                continue;
            }
            if (!ValidShortChar(c)) {
                out += '_';
                lossy = true;
            } else {
                out += char(std::toupper(c));
            }
        }
        return out;
    };
    std::string b = clean(base), e = clean(ext);
    if (e.size() > 3) {
        e.resize(3);
        lossy = true;
    }
    if (b.size() > 8) lossy = true;
    if (lossy) {
        if (b.size() > 6) b.resize(6);
        b += "~1";
    }
    return e.empty() ? b : b + "." + e;
}
}  // namespace

std::string ShortPathName(const std::string& path) {
    std::string out, component;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!component.empty()) out += ShortComponent(component);
            if (i < path.size()) out += '/';
            component.clear();
        } else {
            component += path[i];
        }
    }
    return out;
}

std::string FolderOfPath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOfPath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int CreateTempBeside(const std::string& target, std::string& temp_path) {
    std::string templ = FolderOfPath(target) + "/." + FileNameOfPath(target) + ".qbtmp-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd >= 0) temp_path = buf.data();
    return fd;
}

bool ReplaceWithTemp(const std::string& temp, const std::string& target) {
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        // `temp` now names the replaced file.
        if (unlink(temp.c_str()) == 0) return true;
        // A folder put there meanwhile: swapped back, left as it was.
        renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
        return false;
    }
    // No target yet, or a file system that cannot exchange.
    return rename(temp.c_str(), target.c_str()) == 0;
}

int CopyFileSafely(const std::string& source, const std::string& target, unsigned mode,
                   size_t block, const std::function<bool(int64_t done)>& progress) {
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return 0;
    std::string temp;
    const int out = CreateTempBeside(target, temp);
    if (out < 0) {
        close(in);
        return 0;
    }
    std::vector<char> buffer(block);
    int64_t done = 0;
    int result = 1;
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (n > 0 && !WriteAll(out, buffer.data(), size_t(n)))) {
            result = 0;
            break;
        }
        if (n == 0) break;
        done += n;
        if (progress && !progress(done)) {
            result = 2;
            break;
        }
    }
    close(in);
    if (result == 1 && (fchmod(out, mode_t(mode)) != 0 || fsync(out) != 0)) result = 0;
    close(out);
    if (result != 1 || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return result == 2 ? 2 : 0;
    }
    return 1;
}

bool WriteAll(int fd, const void* data, size_t size) {
    // In steps of 1 MiB: one write of tens of megabytes goes to the page cache several times
    // slower than the same bytes in steps the processor caches hold.
    constexpr size_t kStep = size_t(1) << 20;
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t put = write(fd, p, std::min(size, kStep));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        size -= size_t(put);
    }
    return true;
}

int64_t ReadAt(int fd, void* data, size_t size, int64_t offset) {
    ssize_t got;
    do got = pread(fd, data, size, off_t(offset));
    while (got < 0 && errno == EINTR);
    return got;
}

bool MakeFolders(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return IsFolder(path);
}

bool SyncFolder(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace quorbel
