// quorbel-cli on ZIP archives, run as the real program: archives made during the test by the
// peer tools (Info-ZIP zip, 7z, Python's zipfile) and the shared samples. For every kind of
// archive the entries `list` prints, the status `test` gives each member, the exit codes of
// `test` and `extract`, and the bytes extraction writes are checked.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorbel {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::ReadFile;
using test::ScopedEnv;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// 2021-03-04 05:06:08 UTC: an even second, so the DOS time of the archives holds it exactly.
constexpr int64_t kPinnedTime = 1614834368;

const std::string kOk = "OK";
const std::string kNeedPassword = "Ignored (need password)";
const std::string kUnsupported = "Unsupported compression method found.";
const std::string kDataError =
    "An error occurred while decompressing data. It may result of a corrupted bloc of data.";
// A status that must be an error of some kind, its wording not pinned.
const std::string kAnyError = "<any error>";

const std::string kCorruptStart = "This file seams to be an archive file, however it contains corrupted information";
const std::string kUnknownStart = "Unknown archive format. This version of Quorbel cannot recognize";
const std::string kProtected = "is protected by a password";
const std::string kBadPassword = "Incorrect password";

// ---------------------------------------------------------------------------------------------
// Running programs

CommandResult Cli(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::vector<std::string> argv = {QUORBEL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::Run(argv, cwd);
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Runs a peer tool that must succeed; the archive builders throw so a row fails cleanly.
CommandResult MustRun(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::string& input = "") {
    CommandResult r = test::Run(argv, cwd, input);
    if (r.exit_code != 0)
        throw std::runtime_error(argv[0] + " " + (argv.size() > 1 ? argv[1] : "") + " failed (" +
                                 std::to_string(r.exit_code) + "): " + r.err + r.out);
    return r;
}

CommandResult Python(const std::string& script, const std::vector<std::string>& args,
                     const std::string& cwd = "") {
    return MustRun(Concat({"python3", "-c", script}, args), cwd);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Files

uint32_t Le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) {
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

// Deterministic bytes that do not compress.
std::string NoiseBytes(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return s;
}

void WritePinned(const std::string& path, const std::string& bytes) {
    WriteFile(path, bytes);
    test::SetMtime(path, kPinnedTime);
}

int64_t MtimeOf(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

// Every regular file below `root`, as '/' separated paths relative to it.
std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!fs::exists(root, ec)) return files;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(fs::relative(it->path(), root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

// ---------------------------------------------------------------------------------------------
// What an archive holds and what the program must say about it

struct Member {
    std::string path;      // stored name, '/' separated
    std::string status;    // what `test` reports for it
    std::string expected;  // file with the bytes extraction must write; "" = must never be written
};

struct Built {
    std::string archive;
    std::vector<Member> members;  // the file entries, in the archive's order
};

struct Row {
    std::string label;
    std::function<Built(const std::string& dir)> build;
    std::vector<std::string> options;  // global options, e.g. --password
    int test_exit = 0;
    int extract_exit = 0;
    std::string extract_error;         // part of stderr when extraction fails
    std::string archive_comment;       // the "Note" line of `stat`
    bool pinned_times = false;         // members carry kPinnedTime
};

// Member paths are shown with '/', as they were given.
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BaseName(const std::string& path) { return fs::path(path).filename().string(); }

// The member lines of a test report: full name -> status text.
std::vector<std::pair<std::string, std::string>> TestLines(const std::string& report) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::string prefix = "Testing: \"";
    for (const std::string& line : Lines(report)) {
        if (line.rfind(prefix, 0) != 0) continue;
        size_t end = line.find("\"   ", prefix.size());
        if (end == std::string::npos) end = line.rfind('"');
        std::string name = line.substr(prefix.size(), end - prefix.size());
        size_t status = line.find_first_not_of(' ', end + 1);
        out.emplace_back(name, status == std::string::npos ? "" : line.substr(status));
    }
    return out;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string LastLine(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines.empty() ? "" : lines.back();
}

// The value of a `stat` line ("Label   : value").
std::string StatValue(const std::string& stat, const std::string& label) {
    for (const std::string& line : Lines(stat)) {
        if (line.rfind(label, 0) != 0) continue;
        size_t colon = line.find(": ");
        if (colon != std::string::npos && line.find_first_not_of(' ', label.size()) == colon)
            return line.substr(colon + 2);
    }
    return "<no " + label + " line>";
}

bool IsError(const std::string& status) { return status != kOk && status != kNeedPassword; }

std::string Summary(const std::vector<Member>& members, const std::string& archive_name) {
    int errors = int(std::count_if(members.begin(), members.end(),
                                   [](const Member& m) { return IsError(m.status); }));
    std::string n = std::to_string(members.size());
    if (errors == 0)
        return n + " files tested. No errors detected in compressed data of file \"" + archive_name + "\"";
    return n + " files tested.  " + std::to_string(errors) + " errors detected in compressed data of file \"" +
           archive_name + "\"";
}

void CheckRow(const Row& row, const std::string& root) {
    SCOPED_TRACE(row.label);
    const std::string dir = root + "/" + row.label;
    fs::create_directories(dir);
    Built built;
    try {
        built = row.build(dir);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "building the archive failed: " << e.what();
        return;
    }
    const std::vector<Member>& members = built.members;
    for (const Member& m : members)
        ASSERT_TRUE(m.expected.empty() || fs::exists(m.expected)) << "no reference bytes for " << m.path;

    // list: one line per file entry, in the archive's order (the columns come out in number
    // order, so name before folder).
    CommandResult list = Cli(Concat(row.options, {"list", built.archive, "--tsv", "--columns", "9,1"}));
    EXPECT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.err, "");
    std::vector<std::string> want_list;
    for (const Member& m : members) want_list.push_back(NameOf(m.path) + "\t" + FolderOf(m.path));
    EXPECT_EQ(Lines(list.out), want_list);

    // test: a status per member and the summary.
    CommandResult t = Cli(Concat(row.options, {"test", built.archive}));
    EXPECT_EQ(t.exit_code, row.test_exit) << t.out << t.err;
    auto lines = TestLines(t.out);
    ASSERT_EQ(lines.size(), members.size()) << t.out;
    for (size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(lines[i].first, members[i].path);
        if (members[i].status == kAnyError) {
            EXPECT_TRUE(IsError(lines[i].second)) << lines[i].first << ": " << lines[i].second;
        } else {
            EXPECT_EQ(lines[i].second, members[i].status) << lines[i].first;
        }
    }
    EXPECT_EQ(LastLine(t.out), Summary(members, BaseName(built.archive)));
    EXPECT_THAT(FirstLine(t.out), StartsWith("Testing file \"" + BaseName(built.archive) + "\"... - "));

    // stat: the number of files and the archive comment.
    CommandResult s = Cli(Concat(row.options, {"stat", built.archive}));
    EXPECT_EQ(s.exit_code, 0) << s.err;
    EXPECT_EQ(StatValue(s.out, "# Of Files"), std::to_string(members.size())) << s.out;
    EXPECT_EQ(StatValue(s.out, "Note"), row.archive_comment) << s.out;
    EXPECT_EQ(StatValue(s.out, "MS-Dos Name"), fs::absolute(built.archive).lexically_normal().string())
        << "no 8.3 names here";

    // extract: into a folder of its own inside an otherwise empty one, so that anything
    // written beside it shows.
    const std::string outer = dir + "/x";
    const std::string dest = outer + "/out";
    CommandResult x = Cli(Concat(row.options, {"extract", built.archive, "-d", dest}));
    EXPECT_EQ(x.exit_code, row.extract_exit) << x.err;
    EXPECT_EQ(x.out, "");
    if (row.extract_exit != 0) {
        EXPECT_THAT(x.err, HasSubstr(row.extract_error));
    } else {
        EXPECT_EQ(x.err, "");
    }
    std::map<std::string, const Member*> by_path;
    for (const Member& m : members) by_path[m.path] = &m;
    for (const std::string& f : FilesBelow(dest)) {
        auto hit = by_path.find(f);
        if (hit == by_path.end() || hit->second->expected.empty()) {
            ADD_FAILURE() << "extraction wrote " << f << ", which it must not";
            continue;
        }
        EXPECT_TRUE(ReadFile(dest + "/" + f) == ReadFile(hit->second->expected))
            << f << " differs from " << hit->second->expected;
        if (row.pinned_times) {
            EXPECT_EQ(MtimeOf(dest + "/" + f), kPinnedTime) << f;
        }
    }
    if (row.extract_exit == 0) {
        for (const Member& m : members) {
            if (m.expected.empty()) continue;
            EXPECT_TRUE(fs::is_regular_file(dest + "/" + m.path)) << m.path << " was not extracted";
        }
    }
    size_t beside = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(outer, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        ++beside;
    EXPECT_LE(beside, 1u) << "something was written beside the destination folder";
}

// ---------------------------------------------------------------------------------------------
// Source trees and archive builders

// Four files with pinned times: small text, empty, noise, and a text above 1 MB (so inflating it
// reports progress).
struct Sources {
    std::string dir;
    std::vector<std::string> names = {"alpha.txt", "empty.txt", "sub/bravo.bin", "sub/deeper/charlie.txt"};
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
};

Sources MakeSources(const std::string& dir) {
    Sources s;
    s.dir = dir + "/src";
    std::string alpha, charlie;
    for (int i = 0; i < 200; ++i) alpha += "alpha line " + std::to_string(1000 + i) + "\n";
    for (int i = 0; i < 40000; ++i)
        charlie += "charlie " + std::to_string(1000000 + i * 7) + " the quick brown fox\n";
    WritePinned(s / "alpha.txt", alpha);
    WritePinned(s / "empty.txt", "");
    WritePinned(s / "sub/bravo.bin", NoiseBytes(5000, 7));
    WritePinned(s / "sub/deeper/charlie.txt", charlie);
    return s;
}

std::vector<Member> AllWith(const Sources& s, const std::string& status, bool written = true) {
    std::vector<Member> members;
    for (const std::string& n : s.names) members.push_back({n, status, written ? s / n : ""});
    return members;
}

// Info-ZIP zip of the four sources, named one by one (no folder entries).
std::function<Built(const std::string&)> InfoZip(std::vector<std::string> flags, std::string status,
                                                 bool written = true) {
    return [flags, status, written](const std::string& dir) {
        Sources s = MakeSources(dir);
        const std::string archive = dir + "/t.zip";
        MustRun(Concat(Concat({"zip", "-q"}, flags), Concat({archive}, s.names)), s.dir);
        return Built{archive, AllWith(s, status, written)};
    };
}

// Encrypted by zip -P, made again until a header check with "wrong" fails for every member as
// unzip sees it: the check is one byte of a random header, so a wrong password passes it for
// about one member in 256.
std::function<Built(const std::string&)> InfoZipEncrypted(std::string status, bool written) {
    return [status, written](const std::string& dir) {
        Sources s = MakeSources(dir);
        const std::string archive = dir + "/t.zip";
        std::string last;
        for (int attempt = 0; attempt < 20; ++attempt) {
            fs::remove(archive);
            MustRun(Concat({"zip", "-q", "-9", "-P", "secret", archive}, s.names), s.dir);
            CommandResult check = test::Run({"unzip", "-t", "-P", "wrong", archive});
            size_t rejected = 0;
            for (const std::string& line : Lines(check.out + check.err))
                if (line.find("skipping:") != std::string::npos && line.find("incorrect password") != std::string::npos)
                    ++rejected;
            if (rejected == s.names.size()) return Built{archive, AllWith(s, status, written)};
            last = check.out + check.err;
        }
        throw std::runtime_error("no archive whose headers reject the wrong password: " + last);
    };
}

// 7z of the sources: the sub folder is given whole, so folder entries are stored too.
std::function<Built(const std::string&)> SevenZip(std::vector<std::string> flags, std::string status,
                                                  bool written = true) {
    return [flags, status, written](const std::string& dir) {
        Sources s = MakeSources(dir);
        const std::string archive = dir + "/t.zip";
        MustRun(Concat(Concat({"7z", "a", "-tzip"}, flags), {archive, "alpha.txt", "empty.txt", "sub"}), s.dir);
        return Built{archive, AllWith(s, status, written)};
    };
}

// Python's zipfile: each item is "name|stored or deflated|source file"; a name ending in '/' is a
// folder entry. The host is MS-DOS, so only flag bit 11 can make a name UTF-8.
const char kPythonWriter[] = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for item in sys.argv[2:]:
        name, method, source = item.split('|')
        info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))
        info.create_system = 0
        if name.endswith('/'):
            info.external_attr = 0x10
            z.writestr(info, b'')
            continue
        info.compress_type = zipfile.ZIP_DEFLATED if method == 'deflated' else zipfile.ZIP_STORED
        with open(source, 'rb') as f:
            z.writestr(info, f.read())
)PY";

// Reference extraction of a sample by Python's zipfile: file entry k (in the archive's order)
// goes to out/k; members it cannot read are left out.
const char kPythonReference[] = R"PY(
import os, sys, zipfile
archive, out, password = sys.argv[1], sys.argv[2], sys.argv[3]
os.makedirs(out, exist_ok=True)
z = zipfile.ZipFile(archive)
if password:
    z.setpassword(password.encode())
k = 0
for info in z.infolist():
    if info.filename.endswith('/'):
        continue
    try:
        data = z.read(info)
        with open(os.path.join(out, str(k)), 'wb') as f:
            f.write(data)
    except Exception as e:
        print(k, info.filename, e, file=sys.stderr)
    k += 1
)PY";

std::string Original(const std::string& name) { return test::TestData("rar/sharpcompress-original-" + name); }

// A shared sample. Each member names its reference: "ref" (Python's extraction), "" (never
// written) or a file path.
struct SampleMember {
    std::string path, status, reference;
};

std::function<Built(const std::string&)> Sample(std::string file, std::string password,
                                                std::vector<SampleMember> expected_members) {
    return [file, password, expected_members](const std::string& dir) {
        Built b{test::TestData("zip/" + file), {}};
        bool need_reference = std::any_of(expected_members.begin(), expected_members.end(),
                                          [](const SampleMember& m) { return m.reference == "ref"; });
        if (need_reference) test::Run({"python3", "-c", kPythonReference, b.archive, dir + "/ref", password});
        for (size_t k = 0; k < expected_members.size(); ++k) {
            std::string expected = expected_members[k].reference == "ref" ? dir + "/ref/" + std::to_string(k) : expected_members[k].reference;
            b.members.push_back({expected_members[k].path, expected_members[k].status, expected});
        }
        return b;
    };
}

// Flips one byte in the middle of a member's data (sizes taken from the local headers).
void FlipDataByte(const std::string& archive, const std::string& member) {
    std::string bytes = ReadFile(archive);
    size_t at = 0;
    while (at + 30 <= bytes.size() && Le32(bytes, at) == 0x04034b50) {
        size_t name_len = Le16(bytes, at + 26), extra_len = Le16(bytes, at + 28);
        size_t packed = Le32(bytes, at + 18);
        size_t data = at + 30 + name_len + extra_len;
        if (bytes.compare(at + 30, name_len, member) == 0) {
            bytes[data + packed / 2] = char(bytes[data + packed / 2] ^ 0x55);
            WriteFile(archive, bytes);
            return;
        }
        at = data + packed;
    }
    throw std::runtime_error("member " + member + " not found in " + archive);
}

// The central directory's place, from an end record without a comment.
void CentralDirectory(const std::string& bytes, size_t& offset, size_t& size) {
    size_t end = bytes.size() - 22;
    if (bytes.size() < 22 || Le32(bytes, end) != 0x06054b50) throw std::runtime_error("no end record");
    size = Le32(bytes, end + 12);
    offset = Le32(bytes, end + 16);
}

// ---------------------------------------------------------------------------------------------

class CliZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        tzset();
        fs::create_directories(work_);
    }
    void TearDown() override { tzset(); }

    std::string Work(const std::string& name) const { return work_ + "/" + name; }

    test::IsolatedEnvironment env_;
    ScopedEnv tz_{"TZ", "UTC"};
    ScopedEnv lc_{"LC_ALL", "C.UTF-8"};
    ScopedEnv lang_{"LANG", "C.UTF-8"};
    std::string work_ = env_ / "work";
};

TEST_F(CliZipTest, InfoZipArchives) {
    QUORBEL_REQUIRE_TOOL("zip");
    QUORBEL_REQUIRE_TOOL("unzip");
    const std::string need = std::string("File \"alpha.txt\" ") + kProtected;
    std::vector<Row> rows = {
        {"stored", InfoZip({"-0", "-X"}, kOk), {}, 0, 0, "", "", true},
        {"deflated", InfoZip({"-9"}, kOk), {}, 0, 0, "", "", true},
        {"encrypted_no_password", InfoZipEncrypted(kNeedPassword, false), {}, 0, 1, need, "", true},
        {"encrypted_password", InfoZipEncrypted(kOk, true), {"--password", "secret"}, 0, 0, "", "", true},
        // A wrong password fails the header check: status 11, shown like a missing password.
        {"encrypted_wrong_password", InfoZipEncrypted(kNeedPassword, false), {"--password", "wrong"}, 0, 1,
         kBadPassword, "", true},
        {"comments",
         [](const std::string& dir) {
             Sources s = MakeSources(dir);
             const std::string archive = dir + "/t.zip";
             // One line per member comment, then the archive comment up to the end of input.
             MustRun(Concat({"zip", "-q", "-c", "-z", archive}, s.names), s.dir,
                     "note on alpha\nnote on empty\nnote on bravo\nnote on charlie\nThe archive comment.\n");
             return Built{archive, AllWith(s, kOk)};
         },
         {}, 0, 0, "", "The archive comment.", true},
        // Streamed from standard input: the member "-" carries a data descriptor.
        {"stdin_member",
         [](const std::string& dir) {
             const std::string data = "streamed through a pipe\n" + NoiseBytes(3000, 11);
             WriteFile(dir + "/stdin.data", data);
             MustRun({"zip", "-q", dir + "/t.zip", "-"}, dir, data);
             return Built{dir + "/t.zip", {{"-", kOk, dir + "/stdin.data"}}};
         },
         {}, 0, 0, "", "", false},
        // Encrypted and streamed: the password check byte comes from the time, not the CRC.
        {"stdin_member_encrypted",
         [](const std::string& dir) {
             const std::string data = "secret stream\n";
             WriteFile(dir + "/stdin.data", data);
             MustRun({"zip", "-q", "-P", "secret", dir + "/t.zip", "-"}, dir, data);
             return Built{dir + "/t.zip", {{"-", kOk, dir + "/stdin.data"}}};
         },
         {"--password", "secret"}, 0, 0, "", "", false},
        // Written to a pipe: zip cannot seek back, so every member has a data descriptor.
        {"written_to_pipe",
         [](const std::string& dir) {
             Sources s = MakeSources(dir);
             CommandResult r = MustRun(Concat({"zip", "-q", "-", }, s.names), s.dir);
             WriteFile(dir + "/t.zip", r.out);
             return Built{dir + "/t.zip", AllWith(s, kOk)};
         },
         {}, 0, 0, "", "", true},
        // A self-extractor: a stub in front, offsets adjusted with zip -A.
        {"self_extractor",
         [](const std::string& dir) {
             Sources s = MakeSources(dir);
             MustRun(Concat({"zip", "-q", "-9", dir + "/plain.zip"}, s.names), s.dir);
             const std::string exe = dir + "/setup.exe";
             WriteFile(exe, "MZ" + NoiseBytes(4094, 3) + ReadFile(dir + "/plain.zip"));
             MustRun({"zip", "-q", "-A", exe}, dir);
             return Built{exe, AllWith(s, kOk)};
         },
         {}, 0, 0, "", "", true},
        {"damaged_stored",
         [](const std::string& dir) {
             Sources s = MakeSources(dir);
             MustRun({"zip", "-q", "-0", dir + "/t.zip", "alpha.txt", "sub/bravo.bin"}, s.dir);
             FlipDataByte(dir + "/t.zip", "sub/bravo.bin");
             return Built{dir + "/t.zip", {{"alpha.txt", kOk, s / "alpha.txt"}, {"sub/bravo.bin", kDataError, ""}}};
         },
         {}, 1, 1, kDataError, "", true},
        {"damaged_deflated",
         [](const std::string& dir) {
             Sources s = MakeSources(dir);
             MustRun({"zip", "-q", "-9", dir + "/t.zip", "alpha.txt", "sub/deeper/charlie.txt"}, s.dir);
             FlipDataByte(dir + "/t.zip", "sub/deeper/charlie.txt");
             return Built{dir + "/t.zip",
                          {{"alpha.txt", kOk, s / "alpha.txt"}, {"sub/deeper/charlie.txt", kDataError, ""}}};
         },
         {}, 1, 1, kDataError, "", true},
        // A 0-byte file is an empty archive.
        {"empty_file",
         [](const std::string& dir) {
             WriteFile(dir + "/empty.zip", "");
             return Built{dir + "/empty.zip", {}};
         },
         {}, 0, 0, "", "", false},
    };
    for (const Row& row : rows) CheckRow(row, work_);
}

TEST_F(CliZipTest, SevenZipArchives) {
    QUORBEL_REQUIRE_TOOL("7z");
    std::vector<Row> rows = {
        {"deflate", SevenZip({}, kOk), {}, 0, 0, "", "", true},
        {"copy", SevenZip({"-mm=Copy"}, kOk), {}, 0, 0, "", "", true},
        {"zipcrypto_no_password", SevenZip({"-mem=ZipCrypto", "-psecret"}, kNeedPassword, false), {}, 0, 1,
         std::string("File \"alpha.txt\" ") + kProtected, "", true},
        {"zipcrypto_password", SevenZip({"-mem=ZipCrypto", "-psecret"}, kOk), {"--password", "secret"}, 0, 0, "",
         "", true},
        // Method 12. Only compressible files, so that 7z does not fall back to storing.
        {"bzip2",
         [](const std::string& dir) {
             Sources s = MakeSources(dir);
             MustRun({"7z", "a", "-tzip", "-mm=BZip2", dir + "/t.zip", "alpha.txt", "sub/deeper/charlie.txt"}, s.dir);
             return Built{dir + "/t.zip", {{"alpha.txt", kUnsupported, ""}, {"sub/deeper/charlie.txt", kUnsupported, ""}}};
         },
         {}, 1, 1, kUnsupported, "", true},
    };
    for (const Row& row : rows) CheckRow(row, work_);
}

TEST_F(CliZipTest, PythonArchives) {
    QUORBEL_REQUIRE_TOOL("python3");
    std::vector<Row> rows = {
        {"mixed",
         [](const std::string& dir) {
             const std::string src = dir + "/src";
             std::string readme;
             for (int i = 0; i < 100; ++i) readme += "read me, line " + std::to_string(i) + "\n";
             WriteFile(src + "/readme", readme);
             WriteFile(src + "/ete", "\xc3\xa9t\xc3\xa9 en UTF-8\n");
             WriteFile(src + "/empty", "");
             WriteFile(src + "/noise", NoiseBytes(70000, 5));
             Python(kPythonWriter, {dir + "/t.zip", "docs/||", "docs/readme.txt|deflated|" + src + "/readme",
                                    "caf\xc3\xa9/\xc3\xa9t\xc3\xa9.txt|stored|" + src + "/ete",
                                    "empty.bin|stored|" + src + "/empty", "noise.bin|deflated|" + src + "/noise"});
             return Built{dir + "/t.zip",
                          {{"docs/readme.txt", kOk, src + "/readme"},
                           {"caf\xc3\xa9/\xc3\xa9t\xc3\xa9.txt", kOk, src + "/ete"},
                           {"empty.bin", kOk, src + "/empty"},
                           {"noise.bin", kOk, src + "/noise"}}};
         },
         {}, 0, 0, "", "", true},
        // A member whose name climbs out of the destination is refused, and nothing lands
        // outside it (CheckRow looks beside the destination folder).
        {"climbing_name",
         [](const std::string& dir) {
             WriteFile(dir + "/good", "good\n");
             WriteFile(dir + "/evil", "evil\n");
             Python(kPythonWriter, {dir + "/t.zip", "good.txt|stored|" + dir + "/good",
                                    "../evil.txt|stored|" + dir + "/evil"});
             return Built{dir + "/t.zip", {{"good.txt", kOk, dir + "/good"}, {"../evil.txt", kOk, ""}}};
         },
         {}, 0, 1, "The member \"..\\evil.txt\" would be written outside the destination folder", "", true},
    };
    for (const Row& row : rows) CheckRow(row, work_);
    EXPECT_FALSE(fs::exists(Work("climbing_name/x/evil.txt")));
    EXPECT_FALSE(fs::exists(Work("evil.txt")));
}

TEST_F(CliZipTest, SharedSamples) {
    QUORBEL_REQUIRE_TOOL("python3");
    const std::string exe = Original("test.exe.expected"), jpg = Original("test.jpg.expected");
    const std::string cyrillic_cp437 = "\xce\x93\xc3\x91\xc3\x9f\xce\x93.txt";  // "тест" in CP866, read as CP437
    auto multi = [exe, jpg](const std::string& file) -> std::function<Built(const std::string&)> {
        return [file, exe, jpg](const std::string& dir) {
            // The sets store the text with the CRLF line ends its checked-out original lost.
            std::string crlf;
            for (char c : ReadFile(Original("test-cyrillic.txt.expected"))) crlf += c == '\n' ? "\r\n" : std::string(1, c);
            WriteFile(dir + "/crlf.txt", crlf);
            return Sample(file, "", {{"exe/test.exe", kOk, exe}, {"jpg/test.jpg", kOk, jpg},
                                     {"\xd1\x82\xd0\xb5\xd1\x81\xd1\x82.txt", kOk, dir + "/crlf.txt"}})(dir);
        };
    };
    std::vector<Row> rows = {
        // Multi-disk sets: the first disk (.z01) lies beside the last, so the set is joined
        // and every member reads with its CRC checked.
        {"Infozip.nocomp.multi", multi("Infozip.nocomp.multi.zip"), {}, 0, 0, "", "", false},
        {"WinZip26.nocomp.multi", multi("WinZip26.nocomp.multi.zip"), {}, 0, 0, "", "", false},
        // "test" is not this member's password: unzip, 7z and Python reject it as well.
        {"Zip.deflate.pkware",
         Sample("Zip.deflate.pkware.zip", "test", {{"Folder/File.txt", kNeedPassword, ""}}),
         {"--password", "test"}, 0, 1, kBadPassword, "", false},
        {"Zip.deflate.pkware_no_password",
         Sample("Zip.deflate.pkware.zip", "", {{"Folder/File.txt", kNeedPassword, ""}}),
         {}, 0, 1, kProtected, "", false},
        // The Cyrillic name has no UTF-8 flag and an MS-DOS host: read as CP437.
        {"Zip.deflate",
         Sample("Zip.deflate.zip", "", {{"exe/test.exe", kOk, exe}, {"jpg/test.jpg", kOk, jpg}, {cyrillic_cp437, kOk, "ref"}}),
         {}, 0, 0, "", "", false},
        {"Zip.implode",
         Sample("Zip.implode.zip", "",
                {{"EXE/TEST.EXE", kUnsupported, ""}, {"JPG/TEST.JPG", kOk, jpg}, {cyrillic_cp437, kUnsupported, ""}}),
         {}, 1, 1, kUnsupported, "", false},
        // WinZip AES (method 99).
        {"Zip.none.encrypted",
         Sample("Zip.none.encrypted.zip", "", {{"first.txt", kUnsupported, ""}, {"second.txt", kUnsupported, ""}}),
         {}, 1, 1, kProtected, "", false},
        {"Zip.none.encrypted_password",
         Sample("Zip.none.encrypted.zip", "", {{"first.txt", kUnsupported, ""}, {"second.txt", kUnsupported, ""}}),
         {"--password", "test"}, 1, 1, kUnsupported, "", false},
        {"Zip.reduce1",
         Sample("Zip.reduce1.zip", "",
                {{"TECT.TXT", kUnsupported, ""}, {"TEST.EXE", kUnsupported, ""}, {"TEST.JPG", kUnsupported, ""}}),
         {}, 1, 1, kUnsupported, "", false},
        {"Zip.shrink",
         Sample("Zip.shrink.zip", "", {{"TECT.TXT", kUnsupported, ""}, {"TEST.EXE", kUnsupported, ""}, {"TEST.JPG", kOk, jpg}}),
         {}, 1, 1, kUnsupported, "", false},
        {"test_compat_zip_1",
         Sample("test_compat_zip_1.zip", "", {{"META-INF/MANIFEST.MF", kOk, "ref"}, {"tmp.class", kOk, "ref"}}),
         {}, 0, 0, "", "ProGuard, version 4.0.1", false},
        // file2's CRC does not match its data (unzip and 7z agree); file1 is extracted first.
        {"test_read_format_zip",
         Sample("test_read_format_zip.zip", "", {{"file1", kOk, "ref"}, {"file2", kDataError, ""}}),
         {}, 1, 1, kDataError, "", false},
        {"test_read_format_zip_comment_stored_1",
         Sample("test_read_format_zip_comment_stored_1.zip", "", {{"file0", kOk, "ref"}, {"build.sh", kOk, "ref"}}),
         {}, 0, 0, "", "This is a sample file for issue 271.", false},
        // foo.txt uses strong encryption (flag bit 6, DES): no password makes it readable, so it
        // is an unsupported method, as AES is.
        {"test_read_format_zip_encryption_partially",
         Sample("test_read_format_zip_encryption_partially.zip", "", {{"bar.txt", kOk, "ref"}, {"foo.txt", kUnsupported, ""}}),
         {"--password", "12345678"}, 1, 1, kUnsupported, "", false},
        // Names without the UTF-8 flag that are not UTF-8: read as CP437.
        {"test_read_format_zip_filename_cp866",
         Sample("test_read_format_zip_filename_cp866.zip", "",
                {{"\xc3\x85\xc3\x89\xc3\xaa\xc3\xa9\xc3\xa0\xc3\x86", kOk, "ref"},
                 {"\xc2\xbb\xce\xb1\xc2\xbf\xc3\xb3\xc3\x91\xce\x93", kOk, "ref"}}),
         {}, 0, 0, "", "", false},
        {"test_read_format_zip_length_at_end",
         Sample("test_read_format_zip_length_at_end.zip", "", {{"hello.txt", kOk, "ref"}}), {}, 0, 0, "", "", false},
        {"test_read_format_zip_traditional_encryption_data",
         Sample("test_read_format_zip_traditional_encryption_data.zip", "12345678",
                {{"bar.txt", kOk, "ref"}, {"foo.txt", kOk, "ref"}}),
         {"--password", "12345678"}, 0, 0, "", "", false},
        {"test_read_format_zip_traditional_encryption_data_no_password",
         Sample("test_read_format_zip_traditional_encryption_data.zip", "",
                {{"bar.txt", kNeedPassword, ""}, {"foo.txt", kNeedPassword, ""}}),
         {}, 0, 1, kProtected, "", false},
        {"test_read_format_zip_winzip_aes128",
         Sample("test_read_format_zip_winzip_aes128.zip", "", {{"README", kUnsupported, ""}}), {}, 1, 1, kProtected,
         "", false},
        // The classic end record is invalid; the ZIP64 one is used.
        {"test_read_format_zip_with_invalid_traditional_eocd",
         Sample("test_read_format_zip_with_invalid_traditional_eocd.zip", "",
                {{"test1.txt", kOk, "ref"}, {"test2.txt", kOk, "ref"}}),
         {}, 0, 0, "", "", false},
        {"test_read_format_zip_zip64a",
         Sample("test_read_format_zip_zip64a.zip", "", {{"-", kOk, "ref"}}), {}, 0, 0, "", "", false},
        {"zipcrypto",
         Sample("zipcrypto.zip", "test",
                {{"brown.txt", kOk, "ref"}, {"dog.txt", kOk, "ref"}, {"fox.txt", kOk, "ref"}, {"jumps.txt", kOk, "ref"},
                 {"lazy.txt", kOk, "ref"}, {"over.txt", kOk, "ref"}, {"quick.txt", kOk, "ref"}, {"the.txt", kOk, "ref"}}),
         {"--password", "test"}, 0, 0, "", "", false},
        {"zipcrypto_no_password",
         Sample("zipcrypto.zip", "",
                {{"brown.txt", kNeedPassword, ""}, {"dog.txt", kNeedPassword, ""}, {"fox.txt", kNeedPassword, ""},
                 {"jumps.txt", kNeedPassword, ""}, {"lazy.txt", kNeedPassword, ""}, {"over.txt", kNeedPassword, ""},
                 {"quick.txt", kNeedPassword, ""}, {"the.txt", kNeedPassword, ""}}),
         {}, 0, 1, kProtected, "", false},
    };
    for (const Row& row : rows) CheckRow(row, work_);
}

// Files that do not open: every command fails with the opener's message and writes nothing.
TEST_F(CliZipTest, FilesThatDoNotOpen) {
    QUORBEL_REQUIRE_TOOL("zip");
    struct Case {
        std::string label;
        std::function<std::string(const std::string& dir)> make;
        std::string message;  // what stderr starts with, after the "Cannot open file "..."." part
    };
    auto zipped = [](const std::string& dir) {
        Sources s = MakeSources(dir);
        MustRun(Concat({"zip", "-q", "-9", dir + "/t.zip"}, s.names), s.dir);
        return ReadFile(dir + "/t.zip");
    };
    std::vector<Case> cases = {
        // Cut in the middle of the central directory: the end record is gone with the cut, and
        // without one the file is no ZIP archive at all.
        {"cut_in_central_directory",
         [&](const std::string& dir) {
             std::string bytes = zipped(dir);
             size_t offset, size;
             CentralDirectory(bytes, offset, size);
             WriteFile(dir + "/cut.zip", bytes.substr(0, offset + size / 2));
             return dir + "/cut.zip";
         },
         kUnknownStart},
        // The second half of the central directory missing, the end record kept.
        {"central_directory_short",
         [&](const std::string& dir) {
             std::string bytes = zipped(dir);
             size_t offset, size;
             CentralDirectory(bytes, offset, size);
             WriteFile(dir + "/short.zip", bytes.substr(0, offset + size / 2) + bytes.substr(bytes.size() - 22));
             return dir + "/short.zip";
         },
         kCorruptStart},
        // A central record whose signature is damaged.
        {"central_record_damaged",
         [&](const std::string& dir) {
             std::string bytes = zipped(dir);
             size_t offset, size;
             CentralDirectory(bytes, offset, size);
             size_t second = bytes.find("PK\x01\x02", offset + 4);
             bytes[second + 2] = 'X';
             WriteFile(dir + "/damaged.zip", bytes);
             return dir + "/damaged.zip";
         },
         kCorruptStart},
        {"not_an_archive",
         [](const std::string& dir) {
             WriteFile(dir + "/notes.txt", "just some notes, nothing packed here\n");
             return dir + "/notes.txt";
         },
         kUnknownStart},
        {"missing", [](const std::string& dir) { return dir + "/missing.zip"; },
         "This error can be due to the following things"},
        // The first disk of a multi-disk set copied alone to a fixed disk is not opened as ZIP.
        {"Infozip.nocomp.multi.z01",
         [](const std::string& dir) {
             fs::copy_file(test::TestData("zip/Infozip.nocomp.multi.z01"), dir + "/Infozip.nocomp.multi.z01");
             return dir + "/Infozip.nocomp.multi.z01";
         },
         kUnknownStart},
        {"WinZip26.nocomp.multi.z01",
         [](const std::string& dir) {
             fs::copy_file(test::TestData("zip/WinZip26.nocomp.multi.z01"), dir + "/WinZip26.nocomp.multi.z01");
             return dir + "/WinZip26.nocomp.multi.z01";
         },
         kUnknownStart},
        // Strong encryption of the central directory: nothing there reads as records (unzip
        // and 7z call it corrupt too).
        {"test_read_format_zip_encryption_header",
         [](const std::string&) { return test::TestData("zip/test_read_format_zip_encryption_header.zip"); },
         kCorruptStart},
        {"test_read_format_zip_malformed1",
         [](const std::string&) { return test::TestData("zip/test_read_format_zip_malformed1.zip"); }, kUnknownStart},
        // A stub of 1024 bytes in front of an archive whose offsets do not count it: offsets are
        // used as stored, so the central directory is not where the end record says.
        {"test_read_format_zip_sfx",
         [](const std::string&) { return test::TestData("zip/test_read_format_zip_sfx.exe"); }, kCorruptStart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string dir = Work(c.label);
        fs::create_directories(dir);
        std::string archive;
        try {
            archive = c.make(dir);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        const std::string dest = dir + "/out";
        const std::vector<std::vector<std::string>> commands = {
            {"list", archive}, {"list", archive, "--csv"}, {"test", archive}, {"stat", archive},
            {"extract", archive, "-d", dest}};
        for (const auto& args : commands) {
            CommandResult r = Cli(args);
            EXPECT_EQ(r.exit_code, 1) << args[0];
            EXPECT_EQ(r.out, "") << args[0];
            if (c.message == kUnknownStart) {
                EXPECT_THAT(r.err, StartsWith(kUnknownStart)) << args[0];
                EXPECT_THAT(r.err, HasSubstr("\"" + archive + "\"")) << args[0];
            } else {
                EXPECT_THAT(r.err, StartsWith("Cannot open file \"" + archive + "\". " + c.message)) << args[0];
            }
        }
        EXPECT_TRUE(FilesBelow(dest).empty());
    }
}

TEST_F(CliZipTest, ZipWithHundredThousandMembers) {
    QUORBEL_REQUIRE_TOOL("python3");
    const std::string archive = Work("big.zip");
    Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:
    for i in range(100000):
        info = zipfile.ZipInfo('d%02d/f%06d.txt' % (i // 10000, i), (2021, 3, 4, 5, 6, 8))
        z.writestr(info, b'%d\n' % i)
)PY",
           {archive});
    // Beyond 65,535 entries the classic end record saturates and the ZIP64 one counts.
    const std::string bytes = ReadFile(archive);
    ASSERT_GE(bytes.size(), 22u);
    EXPECT_EQ(Le16(bytes, bytes.size() - 22 + 10), 0xFFFF);

    CommandResult formatted = Cli({"list", archive});
    EXPECT_EQ(formatted.exit_code, 0) << formatted.err;
    std::vector<std::string> lines = Lines(formatted.out);
    ASSERT_EQ(lines.size(), 100001u);
    EXPECT_THAT(lines[0], StartsWith("NAME"));
    EXPECT_THAT(lines[1], StartsWith("f000000.txt  "));
    EXPECT_THAT(lines[100000], StartsWith("f099999.txt  "));

    CommandResult tsv = Cli({"list", archive, "--tsv", "--columns", "1,9"});
    EXPECT_EQ(tsv.exit_code, 0);
    lines = Lines(tsv.out);
    ASSERT_EQ(lines.size(), 100000u);
    EXPECT_EQ(lines[0], "f000000.txt\td00");
    EXPECT_EQ(lines[54321], "f054321.txt\td05");
    EXPECT_EQ(lines[99999], "f099999.txt\td09");

    CommandResult t = Cli({"test", archive});
    EXPECT_EQ(t.exit_code, 0);
    EXPECT_EQ(LastLine(t.out), "100000 files tested. No errors detected in compressed data of file \"big.zip\"");
    EXPECT_EQ(TestLines(t.out).size(), 100000u);

    CommandResult s = Cli({"stat", archive});
    EXPECT_EQ(StatValue(s.out, "# Of Files"), "100000");
}

TEST_F(CliZipTest, ListLayouts) {
    QUORBEL_REQUIRE_TOOL("zip");
    Sources s = MakeSources(Work("layouts"));
    const std::string archive = Work("layouts/t.zip");
    MustRun(Concat({"zip", "-q", "-9", archive}, s.names), s.dir);

    // CSV: a "," inside a value (the thousands separator) becomes a blank.
    CommandResult csv = Cli({"list", archive, "--csv", "--columns", "1,2,4,9"});
    EXPECT_EQ(csv.exit_code, 0);
    EXPECT_EQ(Lines(csv.out), (std::vector<std::string>{
                                  "alpha.txt,3 200,03/04/2021 05:06:08,",
                                  "empty.txt,0,03/04/2021 05:06:08,",
                                  "bravo.bin,5 000,03/04/2021 05:06:08,sub",
                                  "charlie.txt,1 440 000,03/04/2021 05:06:08,sub/deeper",
                              }));
    CommandResult tsv = Cli({"list", archive, "--tsv", "--columns", "2,1"});
    ASSERT_EQ(Lines(tsv.out).size(), 4u);
    EXPECT_EQ(Lines(tsv.out)[3], "charlie.txt\t1,440,000");

    // Formatted: upper-case titles, columns padded, two blanks after each.
    CommandResult text = Cli({"list", archive, "--columns", "1,2"});
    EXPECT_EQ(text.exit_code, 0);
    EXPECT_EQ(Lines(text.out), (std::vector<std::string>{
                                   "NAME              SIZE  ",
                                   "alpha.txt        3,200  ",
                                   "empty.txt            0  ",
                                   "bravo.bin        5,000  ",
                                   "charlie.txt  1,440,000  ",
                               }));
    // The default set: 1, 2, 4, 5, 6, 9.
    CommandResult defaults = Cli({"list", archive});
    EXPECT_THAT(FirstLine(defaults.out), StartsWith("NAME"));
    EXPECT_THAT(FirstLine(defaults.out), HasSubstr("MODIFIED"));
    EXPECT_THAT(FirstLine(defaults.out), HasSubstr("PACKED"));
    EXPECT_THAT(FirstLine(defaults.out), ::testing::Not(HasSubstr("CRC")));
    EXPECT_EQ(Lines(defaults.out).size(), 5u);
    CommandResult all = Cli({"list", archive, "--columns", "all", "--tsv"});
    const std::string first = FirstLine(all.out);
    EXPECT_EQ(std::count(first.begin(), first.end(), '\t'), 9);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"list", archive, "--columns", "0"}, {"list", archive, "--columns", "1,11"},
             {"list", archive, "--columns", "x"}, {"list", archive, "--bogus"}, {"list"}}) {
        CommandResult r = Cli(bad);
        EXPECT_EQ(r.exit_code, 2) << bad.back();
        EXPECT_THAT(r.err, HasSubstr("usage:"));
    }
}

TEST_F(CliZipTest, MemberComments) {
    QUORBEL_REQUIRE_TOOL("zip");
    Sources s = MakeSources(Work("notes"));
    const std::string archive = Work("notes/t.zip");
    MustRun({"zip", "-q", "-c", "-z", archive, "alpha.txt", "empty.txt"}, s.dir,
            "first note\nsecond note\nWhat the archive is about.\n");
    CommandResult list = Cli({"list", archive, "--tsv", "--columns", "1,10"});
    EXPECT_EQ(Lines(list.out), (std::vector<std::string>{"alpha.txt\tfirst note", "empty.txt\tsecond note"}));
    CommandResult stat = Cli({"stat", archive});
    EXPECT_EQ(StatValue(stat.out, "Note"), "What the archive is about.");
    EXPECT_EQ(StatValue(stat.out, "Name"), "t.zip");
    EXPECT_EQ(stat.out.find('\r'), std::string::npos);
}

TEST_F(CliZipTest, ExistingFilesOnExtraction) {
    QUORBEL_REQUIRE_TOOL("zip");
    Sources s = MakeSources(Work("again"));
    const std::string archive = Work("again/t.zip");
    MustRun({"zip", "-q", "-9", archive, "alpha.txt", "sub/bravo.bin"}, s.dir);
    const std::string dest = Work("again/out");
    ASSERT_EQ(Cli({"extract", archive, "-d", dest}).exit_code, 0);
    const std::string alpha = dest + "/alpha.txt", bravo = dest + "/sub/bravo.bin";
    EXPECT_EQ(ReadFile(alpha), ReadFile(s / "alpha.txt"));

    // Without --overwrite an existing file is kept and reported.
    WriteFile(alpha, "edited on disk\n");
    test::SetMtime(alpha, kPinnedTime - 1000);
    CommandResult keep = Cli({"extract", archive, "-d", dest, "--no-overwrite", "--no-skip-older"});
    EXPECT_EQ(keep.exit_code, 0) << keep.err;
    EXPECT_EQ(Lines(keep.out), (std::vector<std::string>{"Skipped (file exists): \"" + alpha + "\"",
                                                         "Skipped (file exists): \"" + bravo + "\""}));
    EXPECT_EQ(ReadFile(alpha), "edited on disk\n");

    // With it, replaced.
    CommandResult replace = Cli({"extract", archive, "-d", dest, "--overwrite", "--no-skip-older"});
    EXPECT_EQ(replace.exit_code, 0);
    EXPECT_EQ(replace.out, "");
    EXPECT_EQ(ReadFile(alpha), ReadFile(s / "alpha.txt"));
    EXPECT_EQ(MtimeOf(alpha), kPinnedTime);

    // With skip-older a newer file on disk stays, even with --overwrite; an older one does not.
    WriteFile(alpha, "newer on disk\n");
    test::SetMtime(alpha, kPinnedTime + 1000);
    WriteFile(bravo, "older on disk\n");
    test::SetMtime(bravo, kPinnedTime - 1000);
    CommandResult newer = Cli({"extract", archive, "-d", dest, "--overwrite", "--skip-older"});
    EXPECT_EQ(newer.exit_code, 0);
    EXPECT_EQ(Lines(newer.out), (std::vector<std::string>{"Skipped (newer file on disk): \"" + alpha + "\""}));
    EXPECT_EQ(ReadFile(alpha), "newer on disk\n");
    EXPECT_EQ(ReadFile(bravo), ReadFile(s / "sub/bravo.bin"));
}

TEST_F(CliZipTest, ChosenMembersAndLayouts) {
    QUORBEL_REQUIRE_TOOL("zip");
    Sources s = MakeSources(Work("choose"));
    const std::string archive = Work("choose/t.zip");
    MustRun(Concat({"zip", "-q", "-9", archive}, s.names), s.dir);

    CommandResult one = Cli({"extract", archive, "sub/bravo.bin", "-d", Work("one")});
    EXPECT_EQ(one.exit_code, 0) << one.err;
    EXPECT_EQ(FilesBelow(Work("one")), (std::vector<std::string>{"sub/bravo.bin"}));

    // A folder name takes everything below it.
    CommandResult folder = Cli({"extract", archive, "sub", "-d", Work("folder")});
    EXPECT_EQ(folder.exit_code, 0) << folder.err;
    EXPECT_EQ(FilesBelow(Work("folder")), (std::vector<std::string>{"sub/bravo.bin", "sub/deeper/charlie.txt"}));

    CommandResult flat = Cli({"extract", archive, "--flat", "-d", Work("flat")});
    EXPECT_EQ(flat.exit_code, 0) << flat.err;
    EXPECT_EQ(FilesBelow(Work("flat")),
              (std::vector<std::string>{"alpha.txt", "bravo.bin", "charlie.txt", "empty.txt"}));
    EXPECT_EQ(ReadFile(Work("flat/charlie.txt")), ReadFile(s / "sub/deeper/charlie.txt"));

    CommandResult missing = Cli({"extract", archive, "nothing.txt", "-d", Work("missing")});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_THAT(missing.err, HasSubstr("No member named \"nothing.txt\" in the archive."));
    EXPECT_TRUE(FilesBelow(Work("missing")).empty());

    // Without -d: the current folder.
    fs::create_directories(Work("here"));
    CommandResult here = Cli({"extract", archive, "alpha.txt"}, Work("here"));
    EXPECT_EQ(here.exit_code, 0) << here.err;
    EXPECT_EQ(FilesBelow(Work("here")), (std::vector<std::string>{"alpha.txt"}));

    CommandResult bad = Cli({"extract", archive, "--bogus"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_EQ(Cli({"extract"}).exit_code, 2);
    EXPECT_EQ(Cli({"test"}).exit_code, 2);
    EXPECT_EQ(Cli({"test", archive, archive}).exit_code, 2);
    EXPECT_EQ(Cli({"stat"}).exit_code, 2);
}

TEST_F(CliZipTest, GlobalOptions) {
    CommandResult version = Cli({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_THAT(version.out, StartsWith("quorbel-cli "));
    CommandResult help = Cli({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_THAT(help.out, HasSubstr("usage: quorbel-cli"));
    EXPECT_THAT(help.out, HasSubstr("extract ARCHIVE"));
    struct Bad {
        std::vector<std::string> args;
    };
    for (const Bad& b : std::vector<Bad>{{{"frobnicate", "x.zip"}}, {{}}, {{"--lang", "de", "list", "x.zip"}},
                                         {{"list", "x.zip", "--password"}}}) {
        CommandResult r = Cli(b.args);
        EXPECT_EQ(r.exit_code, 2) << (b.args.empty() ? "" : b.args[0]);
        EXPECT_THAT(r.err, HasSubstr("usage: quorbel-cli"));
    }
}

TEST_F(CliZipTest, FrenchTexts) {
    QUORBEL_REQUIRE_TOOL("zip");
    Sources s = MakeSources(Work("fr"));
    const std::string archive = Work("fr/archive.zip");
    MustRun({"zip", "-q", archive, "alpha.txt", "empty.txt"}, s.dir);
    CommandResult en = Cli({"--lang", "en", "test", archive});
    CommandResult fr = Cli({"--lang", "fr", "test", archive});
    EXPECT_EQ(fr.exit_code, 0);
    EXPECT_NE(LastLine(fr.out), LastLine(en.out));
    EXPECT_EQ(LastLine(fr.out),
              "2 fichiers test\xc3\xa9s. Aucune erreur d\xc3\xa9tect\xc3\xa9" "e dans les donn\xc3\xa9" "es "
              "compress\xc3\xa9" "es du fichier \"archive.zip\"");
    EXPECT_THAT(fr.out, HasSubstr("Test : \"alpha.txt\"   OK"));
    EXPECT_THAT(FirstLine(fr.out), StartsWith("Test du fichier \"archive.zip\"..."));

    CommandResult list = Cli({"--lang", "fr", "list", archive, "--columns", "1,9"});
    EXPECT_THAT(FirstLine(list.out), StartsWith("NOM"));
    EXPECT_THAT(FirstLine(list.out), HasSubstr("CHEMIN"));

    CommandResult missing = Cli({"--lang", "fr", "list", Work("fr/none.zip")});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_THAT(missing.err, StartsWith("Impossible d'ouvrir le fichier \"" + Work("fr/none.zip") + "\""));
}

// QUORBEL_ABORT_AFTER=N makes the progress sink cancel after N calls. Whenever the cancel lands,
// the destination holds whole members or nothing: no half-written file, no temporary file.
TEST_F(CliZipTest, CancelledExtraction) {
    QUORBEL_REQUIRE_TOOL("zip");
    const std::string src = Work("cancel/src");
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%03d.txt", i);
        names.push_back(name);
        std::string data = "member " + std::to_string(i) + "\n" + NoiseBytes(size_t(200 + i * 13), uint32_t(i));
        WritePinned(src + "/" + name, data);
    }
    const std::string archive = Work("cancel/t.zip");
    MustRun(Concat({"zip", "-q", "-9", archive}, names), src);

    bool saw_partial = false;
    for (int n : {5, 10, 15, 18, 20, 25, 30, 35, 40, 60, 100000}) {
        SCOPED_TRACE("QUORBEL_ABORT_AFTER=" + std::to_string(n));
        const std::string dest = Work("cancel/out" + std::to_string(n));
        CommandResult r;
        {
            ScopedEnv abort_after("QUORBEL_ABORT_AFTER", std::to_string(n));
            r = Cli({"extract", archive, "-d", dest});
        }
        std::vector<std::string> written;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dest, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            written.push_back(it->path().filename().string());
        for (const std::string& f : written) {
            EXPECT_EQ(f.find(".qbtmp-"), std::string::npos) << f;
            if (f.find(".qbtmp-") == std::string::npos) {
                EXPECT_TRUE(ReadFile(dest + "/" + f) == ReadFile(src + "/" + f)) << f;
            }
        }
        if (n == 5) {
            EXPECT_EQ(r.exit_code, 1) << "a cancel while the directory is read fails too";
        }
        if (n == 100000) {
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(written.size(), 300u);
            continue;
        }
        if (r.exit_code == 0) {
            EXPECT_EQ(written.size(), 300u);
            continue;
        }
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_THAT(r.err, HasSubstr("Aborted"));
        EXPECT_LT(written.size(), 300u);
        if (!written.empty()) saw_partial = true;
    }
    EXPECT_TRUE(saw_partial) << "no cancel landed in the middle of the extraction";
    // The handlers' scratch folders went with them.
    EXPECT_TRUE(FilesBelow(env_ / "tmp").empty());
}

}  // namespace
}  // namespace quorbel
