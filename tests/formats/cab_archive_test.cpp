#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/messages.h"
#include "core/status.h"
#include "formats/cab/cab_archive.h"
#include "formats/cab/cab_library.h"
#include "formats/format_table.h"
#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// Texts joined by appending (GCC 12 warns falsely on chains of + in the sanitizer build).
std::string Cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view p : parts) out.append(p);
    return out;
}

std::string Unpack(CabArchive& h, const ArchiveEntry& e, int& status) {
    MemoryBlock block = h.UnpackEntry(e, status);
    return block ? std::string(reinterpret_cast<const char*>(block.data.get()), block.size) : std::string();
}

std::string Slashed(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

const ArchiveEntry* Find(const CabArchive& h, const std::string& name) {
    for (const ArchiveEntry& e : h.Entries())
        if (Slashed(e.full_name) == name) return &e;
    return nullptr;
}

// The file table entry of the member named `name` (its 16 fixed bytes precede the name).
size_t NameOffset(const std::string& cab, const std::string& name) {
    size_t at = cab.find(Cat({name, std::string_view("", 1)}));
    EXPECT_NE(at, std::string::npos) << name;
    return at;
}

void PutLe32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = char(v >> (8 * i));
}

class CabArchiveTest : public ::testing::Test {
protected:
    // A cabinet made by gcab from `files` (name -> content), MSZIP-compressed when asked.
    std::string MakeCab(const std::map<std::string, std::string>& files, bool mszip,
                        const std::string& name = "made.cab") {
        const std::string src = env_ / Cat({"src-", name});
        std::vector<std::string> argv = {"gcab", mszip ? "-cz" : "-c", env_ / name};
        for (const auto& [member, content] : files) {
            WriteFile(Cat({src, "/", member}), content);
            argv.push_back(member);
        }
        test::CommandResult r = test::Run(argv, src);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return env_ / name;
    }

    // Everything cabextract makes of `cab` (following its set), by '/'-separated name.
    std::map<std::string, std::string> Cabextract(const std::string& cab) {
        const std::string out = env_ / Cat({"cabextract-", fs::path(cab).filename().string()});
        fs::create_directories(out);
        test::CommandResult r = test::Run({"cabextract", "-q", "-d", out, cab});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        std::map<std::string, std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(out))
            if (item.is_regular_file())
                files[fs::relative(item.path(), out).string()] = ReadFile(item.path().string());
        return files;
    }

    test::IsolatedEnvironment env_;
};

// Every listed member of the readable samples unpacks to what cabextract writes for it:
// stored, MSZIP, LZX (with E8 translation), Quantum, reserve areas, and members that run on
// into later cabinets of a set.
TEST_F(CabArchiveTest, SamplesUnpackAsCabextractDoes) {
    struct Row {
        const char* file;
        size_t listed;
    };
    const Row rows[] = {{"mixed.cab", 3}, {"simple.cab", 2}, {"normal_2files_2folders.cab", 4},
                        {"test_read_format_cab_1.cab", 3}, {"test_read_format_cab_2.cab", 4},
                        {"test_read_format_cab_3.cab", 4}, {"test_read_format_cab_lzx_e8.cab", 1},
                        {"reserve_H-D.cab", 2}, {"t.cab", 1}, {"split-1.cab", 3}, {"split-2.cab", 1},
                        {"split-4.cab", 2}, {"test_read_format_cab_multi.p1.cab", 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string path = test::TestData(Cat({"cab/", row.file}));
        const auto expected = Cabextract(path);
        CabArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk) << h.LastMessage();
        ASSERT_EQ(h.EntryCount(), row.listed);
        for (const ArchiveEntry& e : h.Entries()) {
            SCOPED_TRACE(e.full_name);
            const auto it = expected.find(Slashed(e.full_name));
            ASSERT_NE(it, expected.end());
            int status = 0;
            const std::string data = Unpack(h, e, status);
            EXPECT_EQ(status, kUnpackOk) << h.LastMessage();
            EXPECT_EQ(int64_t(data.size()), e.unpacked);
            EXPECT_TRUE(data == it->second);
        }
        // Extraction writes members straight into their files: the same bytes, and nothing else.
        const std::string dest = env_ / Cat({"all-", row.file});
        ASSERT_EQ(h.ExtractAll(dest, true, true), kStatusOk) << h.LastMessage();
        std::map<std::string, std::string> written;
        for (const auto& item : fs::recursive_directory_iterator(dest))
            if (item.is_regular_file())
                written[fs::relative(item.path(), dest).string()] = ReadFile(item.path().string());
        ASSERT_EQ(written.size(), row.listed);
        for (const auto& [name, data] : written) EXPECT_TRUE(data == expected.at(name)) << name;
    }
}

// The mixed sample's texts, as its makers published them.
TEST_F(CabArchiveTest, MixedSampleTexts) {
    CabArchive h;
    ASSERT_EQ(h.Open(test::TestData("cab/mixed.cab")), kStatusOk);
    const std::string expected = ReadFile(test::TestData("cab/mixed.cab.expected"));
    int status = 0;
    const std::string mszip = Unpack(h, *Find(h, "mszip.txt"), status);
    EXPECT_EQ(mszip, "If you can read this, the MSZIP decompressor is working!\n");
    EXPECT_NE(expected.find(mszip.substr(0, mszip.size() - 1)), std::string::npos);
}

// A set's cabinet lists only the members that begin in it, with what the header says.
TEST_F(CabArchiveTest, SetHeaderAndContinuedMembers) {
    CabArchive h;
    ASSERT_EQ(h.Open(test::TestData("cab/split-2.cab")), kStatusOk);
    EXPECT_EQ(h.Directory().previous_name, "Split-1.CAB");
    EXPECT_EQ(h.Directory().next_name, "Split-3.CAB");
    EXPECT_EQ(h.Directory().set_id, 5988);
    EXPECT_EQ(h.Directory().number_in_set, 1);
    ASSERT_EQ(h.EntryCount(), 1u);
    EXPECT_EQ(h.Entry(0).full_name, "medium2.bin");
    CabArchive last;
    ASSERT_EQ(last.Open(test::TestData("cab/split-3.cab")), kStatusOk);
    EXPECT_EQ(last.EntryCount(), 0u);  // its one member began two cabinets earlier
}

// Cabinets gcab makes, stored and MSZIP, with two names that differ only in case: each entry
// gets its own member (members are matched by their place in the table, not by a folded name).
TEST_F(CabArchiveTest, GcabCabinetsAndNamesDifferingInCase) {
    std::string big;
    for (int i = 0; i < 300000; ++i) big += char('a' + (i * 7 + i / 13) % 26);
    const std::map<std::string, std::string> files = {
        {"Readme.txt", "lower"}, {"README.TXT", "UPPER!"}, {"big.bin", big}, {"empty", ""}};
    for (bool mszip : {false, true}) {
        SCOPED_TRACE(mszip);
        CabArchive h;
        ASSERT_EQ(h.Open(MakeCab(files, mszip, mszip ? "z.cab" : "s.cab")), kStatusOk);
        ASSERT_EQ(h.EntryCount(), files.size());
        for (const ArchiveEntry& e : h.Entries()) {
            int status = 0;
            EXPECT_EQ(Unpack(h, e, status), files.at(e.full_name)) << e.full_name;
            EXPECT_EQ(status, kUnpackOk);
        }
    }
}

// The library's failure counts: a member whose data is cut off, or whose entry claims more
// than its folder holds, is an error, not a short success.
TEST_F(CabArchiveTest, ShortMemberIsAnError) {
    std::string content(100000, 'q');
    const std::string cab = MakeCab({{"a/a.bin", content}, {"b.txt", "bee"}}, false);
    const std::string bytes = ReadFile(cab);

    const std::string cut = env_ / "cut.cab";
    WriteFile(cut, bytes.substr(0, bytes.size() - 50000));
    const std::string longer = env_ / "longer.cab";
    std::string patched = bytes;
    PutLe32(patched, NameOffset(patched, "b.txt") - 16, 4000);  // 3 bytes stored, 4000 claimed
    WriteFile(longer, patched);

    // 4 GB claimed for 3 bytes: refused as damage once the data ends, without taking the memory.
    const std::string huge = env_ / "huge.cab";
    PutLe32(patched, NameOffset(patched, "b.txt") - 16, 0xFFFFFFF0u);
    WriteFile(huge, patched);

    for (const auto& [path, member] :
         {std::pair{cut, "a/a.bin"}, std::pair{longer, "b.txt"}, std::pair{huge, "b.txt"}}) {
        SCOPED_TRACE(path);
        CabArchive h;
        ASSERT_EQ(h.Open(path), kStatusOk);
        const std::string message = FormatText(MessageTemplate(kMsgUnexpectedData).c_str(), path.c_str());
        int status = 0;
        MemoryBlock block = h.UnpackEntry(*Find(h, member), status);
        EXPECT_FALSE(block);
        EXPECT_EQ(status, kUnpackDataError);
        EXPECT_EQ(h.LastMessage(), message);
        // Extracted, the member fails the same way and leaves no file, part or folder behind.
        const std::string dest = env_ / Cat({"out-", fs::path(path).filename().string()});
        fs::create_directories(dest);
        EXPECT_EQ(h.ExtractEntry(*Find(h, member), dest, true, nullptr, true), kUnpackDataError);
        EXPECT_EQ(h.LastMessage(), message);
        EXPECT_TRUE(fs::is_empty(dest));
    }

    // A destination that refuses the data is the destination's fault, not the cabinet's.
    CabArchive h;
    ASSERT_EQ(h.Open(cab), kStatusOk);
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    EXPECT_EQ(h.UnpackEntryToFile(*Find(h, "a/a.bin"), full), kStatusCannotCreate);
    ::close(full);
}

// Offsets that size the header buffer are checked against the file; the opener then says the
// file is no CAB file instead of reading (or allocating) gigabytes.
TEST_F(CabArchiveTest, HeaderOffsetsCheckedAgainstTheFile) {
    const std::string bytes = ReadFile(MakeCab({{"a.txt", "alpha"}}, false));
    struct Row {
        const char* name;
        size_t at;
        uint32_t value;
        int status;
    };
    const Row rows[] = {
        {"files-offset-past-end", 16, 0xF0000000u, kStatusFailed},
        {"files-offset-inside-fixed-header", 16, 20, kStatusFailed},
        // The first data offset is not believed: the table is bounded by the file instead.
        {"data-offset-past-end", 36, 0xFFFFFF00u, kStatusOk},
        {"data-offset-before-table", 36, 10, kStatusOk},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string patched = bytes;
        PutLe32(patched, row.at, row.value);
        const std::string path = env_ / Cat({row.name, ".cab"});
        WriteFile(path, patched);
        CabArchive h;
        EXPECT_EQ(h.Open(path), row.status);
        if (row.status == kStatusOk) {
            ASSERT_EQ(h.EntryCount(), 1u);
            EXPECT_EQ(h.Entry(0).full_name, "a.txt");
        } else {
            EXPECT_EQ(h.LastMessage(), FormatText(MessageTemplate(kMsgNotThisFormat).c_str(),
                                                  path.c_str(), "CAB"));
        }
    }
    // Version 1.3 only; the bytes 0x03 0x01 at offset 24.
    std::string old = bytes;
    old[24] = 0x02;
    WriteFile(env_ / "v12.cab", old);
    CabArchive h;
    EXPECT_EQ(h.Open(env_ / "v12.cab"), kStatusFailed);
}

// The next cabinet's name comes from the file: a bare name is looked for (in any case) in the
// cabinet's own folder; one with a path is refused even where that path leads to a cabinet.
TEST_F(CabArchiveTest, NextCabinetOnlyBesideTheCabinet) {
    const std::string p1 = ReadFile(test::TestData("cab/test_read_format_cab_multi.p1.cab"));
    const std::string p2 = ReadFile(test::TestData("cab/test_read_format_cab_multi.p2.cab"));
    const std::string next = "test_read_format_cab_multi.p2.cab";
    const size_t at = p1.find(next);
    ASSERT_NE(at, std::string::npos);
    struct Row {
        std::string name;    // written in place of the next cabinet's name (same length)
        std::string planted; // where the second cabinet is put, below the test folder
        bool ok;
    };
    const std::string up = Cat({"../", next.substr(3)});
    const Row rows[] = {
        {next, Cat({"set/", next}), true},
        {"TEST_READ_FORMAT_CAB_MULTI.P2.CAB", Cat({"set/", next}), true},
        {up, next.substr(3), false},
        {Cat({"..\\", next.substr(3)}), next.substr(3), false},
        {Cat({"sub/", next.substr(4)}), Cat({"set/sub/", next.substr(4)}), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(row.name.size(), next.size());
        fs::remove_all(env_ / "set");
        std::string patched = p1;
        patched.replace(at, next.size(), row.name);
        WriteFile(env_ / "set/p1.cab", patched);
        WriteFile(env_ / row.planted, p2);
        CabArchive h;
        ASSERT_EQ(h.Open(env_ / "set/p1.cab"), kStatusOk);
        int status = 0;
        const std::string data = Unpack(h, h.Entry(0), status);
        EXPECT_EQ(status, row.ok ? kUnpackOk : kUnpackDataError);
        EXPECT_EQ(data.size(), row.ok ? 512u : 0u);
        fs::remove(env_ / row.planted);
    }
}

// Names: the UTF-8 flag is honoured, other names are code page 437; the stored bytes still
// find the member. Names that climb out are left to the shared path check.
TEST_F(CabArchiveTest, NamesAndTheirEncodings) {
    const std::string bytes = ReadFile(MakeCab({{"xa.txt", "1"}, {"xb.txt", "22"}, {"evil.txt", "3"}}, true));
    std::string patched = bytes;
    size_t a = NameOffset(patched, "xa.txt"), b = NameOffset(patched, "xb.txt");
    patched[a] = char(0x82);  // CP437 e-acute, no UTF-8 flag
    patched[b - 2] = char(patched[b - 2] | 0x80);  // the UTF-8 flag on "xb.txt" ...
    patched.replace(b, 2, "\xC3\xA9");             // ... spelt e-acute in UTF-8
    const size_t e = NameOffset(patched, "evil.txt");
    patched.replace(e, 8, "..\\x.txt");
    const std::string path = env_ / "names.cab";
    WriteFile(path, patched);

    CabArchive h;
    ASSERT_EQ(h.Open(path), kStatusOk);
    ASSERT_EQ(h.EntryCount(), 3u);
    const ArchiveEntry* cp437 = Find(h, "\xC3\xA9" "a.txt");
    const ArchiveEntry* utf8 = Find(h, "\xC3\xA9" ".txt");
    const ArchiveEntry* climbing = Find(h, "../x.txt");
    ASSERT_TRUE(cp437 && utf8 && climbing);
    int status = 0;
    EXPECT_EQ(Unpack(h, *cp437, status), "1");
    EXPECT_EQ(Unpack(h, *utf8, status), "22");
    EXPECT_EQ(status, kUnpackOk);

    const std::string dest = env_ / "out/inner";
    fs::create_directories(dest);
    EXPECT_NE(h.ExtractEntry(*climbing, dest, true, nullptr, true), kStatusOk);
    EXPECT_FALSE(fs::exists(env_ / "out/x.txt"));
    EXPECT_EQ(h.ExtractEntry(*cp437, dest, true, nullptr, true), kStatusOk);
    EXPECT_EQ(ReadFile(Cat({dest, "/\xC3\xA9" "a.txt"})), "1");
}

// Every sample cut at many lengths: the handler either refuses it or unpacks members whole.
TEST_F(CabArchiveTest, TruncatedSamples) {
    for (const char* name : {"mixed.cab", "test_read_format_cab_3.cab", "reserve_H-D.cab",
                             "split-1.cab", "cve-2010-2801-qtm-flush.cab"}) {
        SCOPED_TRACE(name);
        const std::string bytes = ReadFile(test::TestData(Cat({"cab/", name})));
        const std::string path = env_ / name;
        for (size_t n = 0; n < bytes.size(); n += 1 + n / 16) {
            WriteFile(path, bytes.substr(0, n));
            CabArchive h;
            if (h.Open(path) != kStatusOk) continue;
            for (const ArchiveEntry& e : h.Entries()) {
                int status = 0;
                MemoryBlock block = h.UnpackEntry(e, status);
                if (block) EXPECT_EQ(int64_t(block.size), e.unpacked);
                else EXPECT_NE(status, kUnpackOk);
            }
        }
    }
}

// Damaged cabinets and the regressions of known decoder faults end, cleanly.
TEST_F(CabArchiveTest, DamagedSamples) {
    struct Row {
        const char* file;
        int open;
    };
    const Row rows[] = {{"bad_signature.cab", kStatusFailed},
                        {"partial_shortfile1.cab", kStatusFailed},
                        {"cve-2015-4471-lzx-under-read.cab", kStatusFailed},
                        {"cve-2010-2800-mszip-infinite-loop.cab", kStatusOk},
                        {"cve-2010-2801-qtm-flush.cab", kStatusOk},
                        {"cve-2018-18584-qtm-max-size-block.cab", kStatusOk}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        CabArchive h;
        ASSERT_EQ(h.Open(test::TestData(Cat({"cab/", row.file}))), row.open);
        for (const ArchiveEntry& e : h.Entries()) {
            int status = 0;
            MemoryBlock block = h.UnpackEntry(e, status);
            if (block) EXPECT_EQ(int64_t(block.size), e.unpacked);
            else EXPECT_EQ(status, kUnpackDataError);
        }
    }
}

// The opener finds CAB in its place in the order.
TEST_F(CabArchiveTest, OpenerChoosesCab) {
    int status = 0;
    auto h = OpenArchiveFile(test::TestData("cab/simple.cab"), status);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->FormatName(), "CAB");
    EXPECT_EQ(h->EntryCount(), 2u);
}

// The open callback maps the library's flags onto POSIX.
TEST_F(CabArchiveTest, OpenFlagsMappedToPosix) {
    const std::string file = env_ / "f.bin";
    struct Row {
        const char* name;
        bool exists;
        int flags;
        int mode;
        bool opens;
        const char* content_after;  // after writing "Z" through the handle and closing
        int permissions;            // of the file afterwards (-1: gone)
    };
    const Row rows[] = {
        {"read-missing", false, FDI_O_RDONLY, 0, false, nullptr, -1},
        {"read-existing", true, FDI_O_RDONLY, 0, true, "old", 0644},
        {"create", false, FDI_O_RDWR | FDI_O_CREAT, FDI_S_IWRITE, true, "Z", 0644},
        {"create-read-only", false, FDI_O_WRONLY | FDI_O_CREAT, FDI_S_IREAD, true, "Z", 0444},
        {"exclusive-existing", true, FDI_O_RDWR | FDI_O_CREAT | FDI_O_EXCL, FDI_S_IWRITE, false, "old", 0644},
        {"truncate", true, FDI_O_RDWR | FDI_O_CREAT | FDI_O_TRUNC, FDI_S_IWRITE, true, "Z", 0644},
        {"append", true, FDI_O_WRONLY | FDI_O_APPEND, 0, true, "oldZ", 0644},
        {"overwrite-start", true, FDI_O_WRONLY, 0, true, "Zld", 0644},
        {"temporary", false, FDI_O_RDWR | FDI_O_CREAT | FDI_O_TEMPORARY, FDI_S_IWRITE, true, nullptr, -1},
        {"bad-access", true, 3, 0, false, "old", 0644},
    };
    const mode_t old_mask = umask(022);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(file);
        if (row.exists) {
            WriteFile(file, "old");
            chmod(file.c_str(), 0644);
        }
        intptr_t hf = cab::OpenCallback(file.c_str(), row.flags, row.mode);
        ASSERT_EQ(hf != -1, row.opens);
        if (hf != -1) {
            if ((row.flags & 3) != FDI_O_RDONLY) EXPECT_EQ(cab::WriteCallback(hf, "Z", 1), 1u);
            else EXPECT_EQ(cab::WriteCallback(hf, "Z", 1), UINT32_MAX);
            EXPECT_EQ(cab::CloseCallback(hf), 0);
        }
        if (row.permissions < 0) {
            EXPECT_FALSE(fs::exists(file));
            continue;
        }
        EXPECT_EQ(ReadFile(file), row.content_after);
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(int(st.st_mode & 0777), row.permissions);
    }
    umask(old_mask);
    // Seeks from start, current and end; other origins fail.
    WriteFile(file, "0123456789");
    intptr_t hf = cab::OpenCallback(file.c_str(), FDI_O_RDONLY, 0);
    ASSERT_NE(hf, -1);
    EXPECT_EQ(cab::SeekCallback(hf, 4, 0), 4);
    EXPECT_EQ(cab::SeekCallback(hf, 2, 1), 6);
    EXPECT_EQ(cab::SeekCallback(hf, -1, 2), 9);
    EXPECT_EQ(cab::SeekCallback(hf, 0, 3), -1);
    char buffer[8];
    EXPECT_EQ(cab::ReadCallback(hf, buffer, 8), 1u);
    EXPECT_EQ(buffer[0], '9');
    EXPECT_EQ(cab::CloseCallback(hf), 0);
}

// A cabinet opened for reading goes through a buffer: whatever mix of seeks and read sizes the
// library asks for, it gets the file's bytes and the positions a plain descriptor would give.
TEST_F(CabArchiveTest, ReadOnlyHandlesReadTheFileBytesWhateverTheSeeks) {
    const std::string file = env_ / "bytes.bin";
    std::string bytes(20000, '\0');
    uint32_t state = 5;
    for (char& c : bytes) c = char((state = state * 1103515245u + 12345u) >> 24);
    WriteFile(file, bytes);
    intptr_t hf = cab::OpenCallback(file.c_str(), FDI_O_RDONLY, 0);
    ASSERT_NE(hf, -1);
    const int64_t size = int64_t(bytes.size());
    int64_t pos = 0;
    std::vector<char> buffer(12000);
    for (int step = 0; step < 4000; ++step) {
        state = state * 1103515245u + 12345u;
        const uint32_t pick = state >> 8;
        if (pick % 3 == 0) {
            const int origin = int(pick >> 2) % 3;
            const int64_t target = int64_t(pick >> 4) % (size + 300) - 50;
            const int64_t distance = origin == 0 ? target : origin == 1 ? target - pos : target - size;
            const int64_t got = cab::SeekCallback(hf, distance, origin);
            if (target < 0) {
                ASSERT_EQ(got, -1) << step;
            } else {
                ASSERT_EQ(got, target) << step;
                pos = target;
            }
            continue;
        }
        const uint32_t sizes[] = {1, 8, 16, 36, 256, 4095, 4096, 5000, 11000};
        const uint32_t n = sizes[(pick >> 3) % 9];
        const int64_t expected = pos >= size ? 0 : std::min<int64_t>(n, size - pos);
        ASSERT_EQ(int64_t(cab::ReadCallback(hf, buffer.data(), n)), expected) << step;
        ASSERT_EQ(std::memcmp(buffer.data(), bytes.data() + pos, size_t(expected)), 0) << step;
        pos += expected;
        ASSERT_EQ(cab::SeekCallback(hf, 0, 1), pos) << step;
    }
    EXPECT_EQ(cab::CloseCallback(hf), 0);
}

// The library is looked for beside the program (where an installation puts it), then in
// ../lib (the build tree), then by the loader; the variable names one place alone.
TEST_F(CabArchiveTest, LibraryLookupPlaces) {
    const std::string program = fs::read_symlink("/proc/self/exe").parent_path().string();
    {
        test::ScopedEnv unset("QUORBEL_CABINET_LIBRARY", "");
        const std::vector<std::string> expected = {Cat({program, "/libquorbel-cabinet.so"}),
                                                   Cat({program, "/../lib/libquorbel-cabinet.so"}),
                                                   "libquorbel-cabinet.so"};
        EXPECT_EQ(cab::CabinetLibraryCandidates(), expected);
        // This build tree's test program finds it.
        cab::CabinetEntryPoints e;
        std::string why;
        EXPECT_TRUE(cab::BindCabinetLibrary(e, why)) << why;
        EXPECT_TRUE(e.create && e.copy && e.is_cabinet && e.destroy);
    }
    test::ScopedEnv forced("QUORBEL_CABINET_LIBRARY", "/opt/x/libquorbel-cabinet.so");
    EXPECT_EQ(cab::CabinetLibraryCandidates(), std::vector<std::string>{"/opt/x/libquorbel-cabinet.so"});
}

// Every error record code has its text; unknown codes one of their own.
TEST_F(CabArchiveTest, LibraryErrorTexts) {
    EXPECT_EQ(cab::CabinetErrorText(0), "No error");
    EXPECT_EQ(cab::CabinetErrorText(10), "Cabinet returned on fdintNEXT_CABINET is incorrect");
    EXPECT_EQ(cab::CabinetErrorText(11), "User aborted");
    EXPECT_EQ(cab::CabinetErrorText(12), "Unknown error");
    EXPECT_EQ(cab::CabinetErrorText(-3), "Unknown error");
}

}  // namespace
}  // namespace quorbel
