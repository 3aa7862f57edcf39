#include "platform/instance.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/registry_access.h"
#include "platform/temp_folders.h"

namespace quorbel {

namespace {

constexpr const char* kInstanceRecordKey = "software\\dorvex\\atom\\Quorbel\\";
constexpr const char* kInstanceRecordValue = "HWND";

// ShellCommandBlock payload layout.
constexpr size_t kShellTypeOffset = 32;   // bytes 0-31 are not ours to read
constexpr size_t kShellCountOffset = 36;
constexpr size_t kShellRecordOffset = 40;  // counted from the end of the header
constexpr size_t kShellHeaderSize = 44;
constexpr size_t kPathLengthSize = 4;

constexpr size_t kActivationSize = 12;

std::string WithoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The only way the payload parsers read a number: nothing when fewer than four bytes remain.
std::optional<uint32_t> Le32At(const std::vector<uint8_t>& bytes, size_t pos) {
    if (pos > bytes.size() || bytes.size() - pos < 4) return std::nullopt;
    return Le32(bytes.data() + pos);
}

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(value >> (8 * i));
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

bool ReadExactly(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t got = read(fd, data, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

bool ValidFormatName(const std::string& format) {
    if (format.empty()) return false;
    for (char c : format)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    return true;
}

bool FillSocketAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

std::string InstanceRuntimeFolder() {
    std::string folder;
    struct stat st;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        folder = WithoutTrailingSlashes(runtime) + "/quorbel";
    else  // the temp folder is shared by all users: the uid keeps their folders apart
        folder = WithoutTrailingSlashes(SystemTempPath()) + "/quorbel-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return "";
    // Someone else may have taken the name first in a shared folder; never use theirs.
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return "";
    if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) return "";
    return folder;
}

InstanceLock::~InstanceLock() {
    // The file stays: removing it could race with a starter that has just opened it.
    if (fd_ >= 0) close(fd_);
}

namespace {

// The byte every holder locks; the whole protocol lives in its lock kind.
bool LockInstanceByte(int fd, short type, bool wait) {
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    lock.l_type = type;
    int rc;
    do {
        rc = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
    } while (rc != 0 && errno == EINTR && wait);
    return rc == 0;
}

}  // namespace

bool InstanceLock::Create(bool until_ready) {
    if (fd_ >= 0) return true;
    const std::string folder = InstanceRuntimeFolder();
    if (folder.empty()) return false;
    path_ = folder + "/" + kName;
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    // Open-file-description locks: they belong to this object, not to the process, are released
    // by the kernel when the holder dies, and a write-to-read switch is atomic.
    if (LockInstanceByte(fd, F_WRLCK, false)) {
        already_existed_ = false;
        if (until_ready) {
            fd_ = fd;
            keeps_starters_waiting_ = true;
            return true;
        }
    } else if (errno == EAGAIN || errno == EACCES) {
        already_existed_ = true;
    } else {
        close(fd);
        return false;
    }
    // Only the write lock proves nobody else holds it; every holder then keeps a read lock, so
    // the instance counts as running while any of them lives. A starter that found a write lock
    // waits for that winner's switch to reading, which it makes once it is ready.
    if (!LockInstanceByte(fd, F_RDLCK, true)) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void InstanceLock::Ready() {
    if (!keeps_starters_waiting_) return;
    keeps_starters_waiting_ = false;
    // Switching down from our own write lock never waits and never fails with the lock held;
    // should it fail anyway, closing lets the waiting starters go rather than hang them.
    if (!LockInstanceByte(fd_, F_RDLCK, true)) {
        close(fd_);
        fd_ = -1;
    }
}

std::string ClipboardBlockPath(const std::string& format) {
    if (!ValidFormatName(format)) return "";
    const std::string folder = InstanceRuntimeFolder();
    return folder.empty() ? "" : folder + "/clipboard-" + format;
}

bool WriteClipboardBlock(const std::string& format, const std::vector<uint8_t>& payload) {
    if (payload.size() > UINT32_MAX) return false;
    const std::string path = ClipboardBlockPath(format);
    if (path.empty()) return false;
    const size_t slash = path.rfind('/');
    std::string templ = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
    const int fd = mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t length[4];
    PutLe32(length, uint32_t(payload.size()));
    bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, length, sizeof length) &&
              WriteAll(fd, payload.data(), payload.size());
    ok = close(fd) == 0 && ok;
    ok = ok && rename(templ.c_str(), path.c_str()) == 0;
    if (!ok) unlink(templ.c_str());
    return ok;
}

std::optional<std::vector<uint8_t>> ReadClipboardBlock(const std::string& format) {
    const std::string path = ClipboardBlockPath(format);
    if (path.empty()) return std::nullopt;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    struct stat st;
    uint8_t length_bytes[4];
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 4 &&
        ReadExactly(fd, length_bytes, sizeof length_bytes)) {
        const uint32_t length = Le32(length_bytes);
        // The length is checked against the file before it sizes anything.
        if (uint64_t(length) <= uint64_t(st.st_size) - 4) {
            std::vector<uint8_t> payload(length);
            if (ReadExactly(fd, payload.data(), payload.size())) result = std::move(payload);
        }
    }
    close(fd);
    return result;
}

std::vector<uint8_t> MakeCommandLineBlock(const std::string& text) {
    std::vector<uint8_t> block(text.begin(), text.end());
    block.push_back(0);
    block.push_back(0);
    return block;
}

std::optional<std::string> ParseCommandLineBlock(const std::vector<uint8_t>& payload) {
    for (size_t i = 0; i < payload.size(); ++i)
        if (payload[i] == 0) return std::string(payload.begin(), payload.begin() + ptrdiff_t(i));
    return std::nullopt;
}

std::vector<uint8_t> MakeShellCommandBlock(const ShellCommandBlock& block) {
    std::vector<uint8_t> out(kShellTypeOffset, 0);
    AppendLe32(out, block.type);
    AppendLe32(out, uint32_t(block.paths.size()));
    AppendLe32(out, 0);
    for (const std::string& path : block.paths) {
        AppendLe32(out, uint32_t(path.size()));
        out.insert(out.end(), path.begin(), path.end());
    }
    return out;
}

std::optional<ShellCommandBlock> ParseShellCommandBlock(const std::vector<uint8_t>& payload) {
    const auto type = Le32At(payload, kShellTypeOffset);
    const auto count = Le32At(payload, kShellCountOffset);
    const auto offset = Le32At(payload, kShellRecordOffset);
    if (!type || !count || !offset) return std::nullopt;
    if (*offset > payload.size() - kShellHeaderSize) return std::nullopt;
    size_t pos = kShellHeaderSize + *offset;
    // Each record takes at least its length field: that bounds the count before any reserve.
    if (*count > (payload.size() - pos) / kPathLengthSize) return std::nullopt;
    ShellCommandBlock block;
    block.type = *type;
    block.paths.reserve(*count);
    for (uint32_t i = 0; i < *count; ++i) {
        const auto length = Le32At(payload, pos);
        if (!length) return std::nullopt;
        pos += kPathLengthSize;
        if (*length > payload.size() - pos) return std::nullopt;
        const auto begin = payload.begin() + ptrdiff_t(pos);
        std::string path(begin, begin + ptrdiff_t(*length));
        path.resize(std::strlen(path.c_str()));
        block.paths.push_back(std::move(path));
        pos += *length;
    }
    return block;
}

bool WriteInstanceRecord(const std::string& value) {
    return RegistryAccess().WriteText(RegistryRoot::CurrentUser, kInstanceRecordKey,
                                      kInstanceRecordValue, value);
}

std::string ReadInstanceRecord() {
    return RegistryAccess().ReadText(RegistryRoot::CurrentUser, kInstanceRecordKey,
                                     kInstanceRecordValue, "0");
}

ActivationSocket::~ActivationSocket() {
    if (fd_ < 0) return;
    close(fd_);
    unlink(name_.c_str());
}

bool ActivationSocket::Listen() {
    if (fd_ >= 0) return true;
    const std::string folder = InstanceRuntimeFolder();
    if (folder.empty()) return false;
    static std::atomic<unsigned> counter{0};
    const std::string name =
        folder + "/activation-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    sockaddr_un addr;
    if (!FillSocketAddress(name, addr)) return false;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // A crashed process with the same pid may have left its socket behind.
    struct stat st;
    if (lstat(name.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(name.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    name_ = name;
    return true;
}

std::optional<ActivationMessage> ActivationSocket::Receive() {
    if (fd_ < 0) return std::nullopt;
    for (;;) {
        // One byte more than a message, so that a longer datagram shows as foreign.
        uint8_t buf[kActivationSize + 1];
        const ssize_t got = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (size_t(got) != kActivationSize) continue;
        return ActivationMessage{Le32(buf), Le32(buf + 4), Le32(buf + 8)};
    }
}

bool PostActivation(const std::string& name, uint32_t message, uint32_t wparam, uint32_t lparam) {
    if (name.empty() || name == "0") return false;
    // The record is only a hint from the settings store: post to nothing but our own sockets.
    const std::string folder = InstanceRuntimeFolder();
    const size_t slash = name.rfind('/');
    if (folder.empty() || slash != folder.size() || name.compare(0, slash, folder) != 0 ||
        slash + 1 == name.size())
        return false;
    struct stat st;
    if (lstat(name.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    sockaddr_un addr;
    if (!FillSocketAddress(name, addr)) return false;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    uint8_t datagram[kActivationSize];
    PutLe32(datagram, message);
    PutLe32(datagram + 4, wparam);
    PutLe32(datagram + 8, lparam);
    // A stale socket file with no listener gives ECONNREFUSED; a full queue is not waited for.
    const ssize_t sent = sendto(fd, datagram, sizeof datagram, MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    close(fd);
    return sent == ssize_t(sizeof datagram);
}

}  // namespace quorbel
