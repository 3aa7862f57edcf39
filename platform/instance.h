// Single-instance hand-over between two starts of the program by the same user: the instance
// lock, the two clipboard blocks, the instance record and the activation message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorbel {

// WM_USER + 101: "a second instance left its command line on the clipboard".
inline constexpr uint32_t kActivationMessage = 1125;

// The per-user folder (mode 0700, created when missing) that holds the lock, the clipboard
// files and the activation sockets: $XDG_RUNTIME_DIR/quorbel, else <temp folder>/quorbel-<uid>.
// "" when it cannot be made or a folder of that name is not ours.
std::string InstanceRuntimeFolder();

// Stands in for the named file mapping "Dorvex§QuorbelFileMapping": a lock file of that name in
// the runtime folder. Every instance holds a shared lock on it for the object's life; the kernel
// drops the lock with a dead process, so a file left by a crash does not count as a running
// instance.
class InstanceLock {
public:
    static constexpr const char* kName = "Dorvex\xC2\xA7QuorbelFileMapping";

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this object now holds the lock, also when another instance holds it too (a
    // "/FIRSTTIME" start never defers). Calling it again changes nothing.
    // With `until_ready`, a first holder keeps later starters waiting in their Create until it
    // calls Ready(): an instance does that once its activation socket is listening and named
    // in the instance record, so a starter never hands its command line to nobody.
    bool Create(bool until_ready = false);
    // Lets the starters waiting in Create go on; nothing when this object is not keeping them.
    void Ready();
    // The prior-existence test: another live holder had the lock when Create ran.
    bool AlreadyExisted() const { return already_existed_; }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    bool keeps_starters_waiting_ = false;
    bool already_existed_ = false;
    std::string path_;
};

// Clipboard blocks: one file per format name ("QuorbelString", "Quorbel") in the runtime folder,
// "clipboard-<format>", holding an unsigned 32-bit little-endian length, then that many payload
// bytes. Format names are letters, digits, '_' and '-'.
std::string ClipboardBlockPath(const std::string& format);
// Replaces the block atomically (temporary file + rename, mode 0600).
bool WriteClipboardBlock(const std::string& format, const std::vector<uint8_t>& payload);
// The payload; nullopt when there is no block or its length runs past the end of the file.
std::optional<std::vector<uint8_t>> ReadClipboardBlock(const std::string& format);

// "QuorbelString" payload: the command-line text, its terminating zero and one more zero.
std::vector<uint8_t> MakeCommandLineBlock(const std::string& text);
// The text up to the first zero; nullopt when there is none.
std::optional<std::string> ParseCommandLineBlock(const std::vector<uint8_t>& payload);

// "Quorbel" payload, written by the file-manager integration.
struct ShellCommandBlock {
    uint32_t type = 0;  // 0 to 7, see the application's shell commands
    std::vector<std::string> paths;
};
// Unused first 32 bytes zeroed; the path records follow the header directly (offset 0).
std::vector<uint8_t> MakeShellCommandBlock(const ShellCommandBlock& block);
// nullopt when the header, the record offset, the path count or any path length runs past the
// payload. A path stops at its first zero byte, as the zero-terminated copy would.
std::optional<ShellCommandBlock> ParseShellCommandBlock(const std::vector<uint8_t>& payload);

// The instance record: HKEY_CURRENT_USER "software\dorvex\atom\Quorbel\", value "HWND" — the
// running instance's activation socket name, "0" when none.
bool WriteInstanceRecord(const std::string& value);
std::string ReadInstanceRecord();

struct ActivationMessage {
    uint32_t message = 0;
    uint32_t wparam = 0;
    uint32_t lparam = 0;
};

// The running instance's end of the activation message: a datagram socket in the runtime folder
// named after the process. Closed and removed with the object.
class ActivationSocket {
public:
    ActivationSocket() = default;
    ~ActivationSocket();
    ActivationSocket(const ActivationSocket&) = delete;
    ActivationSocket& operator=(const ActivationSocket&) = delete;

    bool Listen();
    // The socket's path (what the instance record holds); "" before Listen succeeded.
    const std::string& Name() const { return name_; }
    // For a read notifier; -1 before Listen succeeded.
    int Fd() const { return fd_; }
    // The next queued message without waiting; datagrams of another size are dropped.
    std::optional<ActivationMessage> Receive();

private:
    int fd_ = -1;
    std::string name_;
};

// Sends message, wparam and lparam as one 12-byte little-endian datagram to the socket `name`.
// False without sending when the name is "0" or empty, is not a socket directly inside our
// runtime folder, or nobody listens on it any more.
bool PostActivation(const std::string& name, uint32_t message, uint32_t wparam, uint32_t lparam);

}  // namespace quorbel
