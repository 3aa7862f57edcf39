#include "platform/instance.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/registry_access.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedEnv;
using test::WriteFile;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Le32(uint32_t v) {
    return {char(v & 0xff), char(v >> 8 & 0xff), char(v >> 16 & 0xff), char(v >> 24 & 0xff)};
}

void SetLe32(std::vector<uint8_t>& bytes, size_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[pos + size_t(i)] = uint8_t(v >> (8 * i));
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

// A socket bound at `path`; closing it at once leaves the file behind, as a crash would.
int BindDatagramSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const sockaddr_un addr = Address(path);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << path;
    return fd;
}

void SendDatagram(const std::string& path, const std::string& bytes) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    const sockaddr_un addr = Address(path);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&addr),
           sizeof addr);
    close(fd);
}

class InstanceTest : public ::testing::Test {
protected:
    InstanceTest() { fs::create_directories(env_ / "run"); }
    std::string Runtime() const { return env_ / "run/quorbel"; }

    test::IsolatedEnvironment env_;
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", env_ / "run"};
};

TEST_F(InstanceTest, RuntimeFolderIsPrivateAndPerUser) {
    struct Case {
        std::string xdg_runtime_dir;
        std::string expected;
        bool made_too_open_before;  // then it is tightened; otherwise created
    };
    const std::vector<Case> cases = {
        {env_ / "run", Runtime(), true},
        {"", env_ / "tmp/quorbel-" + std::to_string(getuid()), false},
    };
    for (const Case& c : cases) {
        ScopedEnv xdg("XDG_RUNTIME_DIR", c.xdg_runtime_dir);
        if (c.made_too_open_before) {
            fs::create_directories(c.expected);
            chmod(c.expected.c_str(), 0755);
        }
        EXPECT_EQ(InstanceRuntimeFolder(), c.expected);
        EXPECT_TRUE(fs::is_directory(c.expected));
        EXPECT_EQ(ModeOf(c.expected), 0700u) << c.expected;
    }
}

TEST_F(InstanceTest, LockHeldByAnotherProcessCountsOnlyWhileItLives) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    test::ChildProcess child([&] {
        InstanceLock lock;
        const char ok = lock.Create() && !lock.AlreadyExisted() ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        for (;;) pause();  // until killed: the lock file stays behind, as after a crash
        return 0;
    });
    ASSERT_TRUE(child.Started());
    close(ready[1]);
    char child_ok = 0;
    EXPECT_EQ(read(ready[0], &child_ok, 1), 1);
    close(ready[0]);
    EXPECT_EQ(child_ok, 'y');
    {
        InstanceLock second;
        EXPECT_TRUE(second.Create());
        EXPECT_TRUE(second.AlreadyExisted());
        EXPECT_EQ(second.Path(), Runtime() + "/Dorvex\xC2\xA7QuorbelFileMapping");
    }
    kill(child.pid(), SIGKILL);
    ASSERT_EQ(child.Wait(), 128 + SIGKILL);

    ASSERT_TRUE(fs::exists(Runtime() + "/" + InstanceLock::kName));
    InstanceLock after;
    EXPECT_TRUE(after.Create());
    EXPECT_FALSE(after.AlreadyExisted());
}

// An instance sets up its activation socket and record after it took the lock; a second start
// in between must wait for them rather than post its command line to nobody.
TEST_F(InstanceTest, StartersWaitUntilTheFirstHolderIsReady) {
    InstanceLock first;
    ASSERT_TRUE(first.Create(true));
    EXPECT_FALSE(first.AlreadyExisted());
    std::atomic<bool> ready{false};
    bool created = false, existed = false, was_ready = false;
    std::thread starter([&] {
        InstanceLock second;
        created = second.Create(true);
        existed = second.AlreadyExisted();
        was_ready = ready;
    });
    bool waiting = false;
    for (int i = 0; i < 600 && !waiting; ++i) {
        waiting = test::SomeoneWaitsForLock(first.Path());
        if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ready = true;
    first.Ready();
    starter.join();
    EXPECT_TRUE(waiting) << "the second start did not wait";
    EXPECT_TRUE(created);
    EXPECT_TRUE(existed);
    EXPECT_TRUE(was_ready);
    first.Ready();  // a second call changes nothing

    // Once ready, the first holder lets further starters through at once.
    InstanceLock third;
    EXPECT_TRUE(third.Create());
    EXPECT_TRUE(third.AlreadyExisted());
}

// A "/FIRSTTIME" start takes the lock beside a running instance and keeps the program counted
// as running after that instance ends.
TEST_F(InstanceTest, EveryHolderKeepsTheInstanceRunning) {
    auto first = std::make_unique<InstanceLock>();
    ASSERT_TRUE(first->Create());
    EXPECT_FALSE(first->AlreadyExisted());
    auto second = std::make_unique<InstanceLock>();
    ASSERT_TRUE(second->Create());
    EXPECT_TRUE(second->AlreadyExisted());
    first.reset();
    InstanceLock third;
    ASSERT_TRUE(third.Create());
    EXPECT_TRUE(third.AlreadyExisted());
}

TEST_F(InstanceTest, BothBlockKindsRoundTripThroughTheirClipboardFiles) {
    const std::vector<ShellCommandBlock> blocks = {
        {5, {"/data/a.zip"}}, {3, {}}, {1, {"/x y/été.txt", "", std::string(70000, 'p')}}};
    const std::vector<std::string> lines = {"", "/SHELLCOMMAND", "/home/u/Mes archives/été.zip"};
    for (size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_TRUE(WriteClipboardBlock("Quorbel", MakeShellCommandBlock(blocks[i])));
        ASSERT_TRUE(WriteClipboardBlock("QuorbelString", MakeCommandLineBlock(lines[i])));
        const std::string file = Runtime() + "/clipboard-QuorbelString";
        EXPECT_EQ(ReadFile(file),
                  Le32(uint32_t(lines[i].size() + 2)) + lines[i] + std::string(2, '\0'));
        EXPECT_EQ(ModeOf(file), 0600u);

        const auto line = ReadClipboardBlock("QuorbelString");
        ASSERT_TRUE(line);
        EXPECT_EQ(ParseCommandLineBlock(*line), lines[i]);
        const auto payload = ReadClipboardBlock("Quorbel");
        ASSERT_TRUE(payload);
        const auto parsed = ParseShellCommandBlock(*payload);
        ASSERT_TRUE(parsed) << i;
        EXPECT_EQ(parsed->type, blocks[i].type);
        EXPECT_EQ(parsed->paths, blocks[i].paths);
    }
    EXPECT_FALSE(ParseCommandLineBlock(Bytes("unterminated")));
    // A writer may leave a gap before the records and garbage in the unused bytes; a path
    // ends at a zero byte as its zero-terminated copy would.
    const std::string gap = std::string(32, '\xEE') + Le32(2) + Le32(2) + Le32(3) + "xyz" +
                            Le32(6) + "/a.zip" + Le32(3) + std::string("b\0c", 3);
    const auto parsed = ParseShellCommandBlock(Bytes(gap));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->type, 2u);
    EXPECT_EQ(parsed->paths, (std::vector<std::string>{"/a.zip", "b"}));
}

TEST_F(InstanceTest, HostileShellCommandBlocksAreRejected) {
    const std::vector<uint8_t> valid = MakeShellCommandBlock({0, {"/one", "/two/three"}});
    ASSERT_TRUE(ParseShellCommandBlock(valid));
    struct Case {
        const char* defect;
        std::vector<uint8_t> payload;
    };
    std::vector<Case> cases;
    auto with = [&](const char* defect, size_t pos, uint32_t value) {
        std::vector<uint8_t> bytes = valid;
        SetLe32(bytes, pos, value);
        cases.push_back({defect, bytes});
    };
    cases.push_back({"empty", {}});
    cases.push_back({"header_cut_at_43", {valid.begin(), valid.begin() + 43}});
    with("count_one_more_than_records", 36, 3);
    with("count_huge", 36, 0xFFFFFFFF);
    with("offset_past_end", 40, uint32_t(valid.size()));
    with("offset_huge", 40, 0xFFFFFFFF);
    with("offset_lands_inside_a_path", 40, 4);
    with("first_path_length_past_end", 44, uint32_t(valid.size()));
    with("first_path_length_huge", 44, 0xFFFFFFFF);
    with("last_path_length_one_too_many", 44 + 4 + 4, 11);
    // Every record is exact, so any cut inside them loses part of a path.
    for (size_t size = 0; size < valid.size(); ++size)
        cases.push_back({"truncated", {valid.begin(), valid.begin() + ptrdiff_t(size)}});
    for (const Case& c : cases)
        EXPECT_FALSE(ParseShellCommandBlock(c.payload))
            << c.defect << " (" << c.payload.size() << " bytes)";
}

TEST_F(InstanceTest, ClipboardFilesThatCannotHoldTheirLengthAreRejected) {
    const std::string file = Runtime() + "/clipboard-QuorbelString";
    ASSERT_FALSE(ReadClipboardBlock("QuorbelString"));  // nothing written yet
    for (const std::string& content : {std::string("\x05"), Le32(11) + "0123456789",
                                      Le32(0xFFFFFFFF) + "x"}) {
        WriteFile(file, content);
        EXPECT_FALSE(ReadClipboardBlock("QuorbelString")) << content.size();
    }
    WriteFile(file, Le32(3) + "abcdef");  // slack after the block is ignored
    EXPECT_EQ(ReadClipboardBlock("QuorbelString"), Bytes("abc"));
    EXPECT_FALSE(WriteClipboardBlock("../escape", Bytes("x")));
    EXPECT_FALSE(fs::exists(env_ / "run/escape"));
}

TEST_F(InstanceTest, ActivationPostedToTheRecordedSocketArrives) {
    EXPECT_EQ(ReadInstanceRecord(), "0");
    ActivationSocket socket;
    ASSERT_TRUE(socket.Listen());
    EXPECT_EQ(fs::path(socket.Name()).parent_path(), Runtime());
    ASSERT_TRUE(WriteInstanceRecord(socket.Name()));
    // Key names compare without regard to case.
    EXPECT_EQ(RegistryAccess().ReadText(RegistryRoot::CurrentUser,
                                        "Software\\Dorvex\\Atom\\Quorbel", "HWND"),
              socket.Name());
    EXPECT_FALSE(socket.Receive());

    // A datagram of another size in between is not a message.
    SendDatagram(socket.Name(), std::string(13, 'x'));
    ASSERT_TRUE(PostActivation(ReadInstanceRecord(), kActivationMessage, 1, 0));
    ASSERT_TRUE(PostActivation(socket.Name(), 7, 0x01020304, 0xFFFFFFFE));
    const auto first = socket.Receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->message, 1125u);
    EXPECT_EQ(first->wparam, 1u);
    EXPECT_EQ(first->lparam, 0u);
    const auto second = socket.Receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->message, 7u);
    EXPECT_EQ(second->wparam, 0x01020304u);
    EXPECT_EQ(second->lparam, 0xFFFFFFFEu);
    EXPECT_FALSE(socket.Receive());
}

TEST_F(InstanceTest, ActivationWithNobodyListeningIsNotPosted) {
    std::string closed;
    {
        ActivationSocket gone;
        ASSERT_TRUE(gone.Listen());
        closed = gone.Name();
    }
    EXPECT_FALSE(fs::exists(closed));
    const std::string stale = Runtime() + "/activation-stale";  // left by a crash
    close(BindDatagramSocket(stale));
    const std::string outside = env_ / "run/foreign";  // listening, but not in our folder
    const int foreign = BindDatagramSocket(outside);
    struct Case {
        const char* what;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"no instance", "0"},      {"empty record", ""},
        {"closed socket", closed}, {"stale socket file", stale},
        {"outside the runtime folder", outside},
        {"the runtime folder itself", Runtime()},
        {"dot-dot out of the folder", Runtime() + "/../foreign"},
    };
    for (const Case& c : cases) EXPECT_FALSE(PostActivation(c.name, 1125, 1, 0)) << c.what;
    char buf[16];
    EXPECT_LT(recv(foreign, buf, sizeof buf, MSG_DONTWAIT), 0);
    close(foreign);
}

}  // namespace
}  // namespace quorbel
