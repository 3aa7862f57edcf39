#include "formats/external/external_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "core/messages.h"
#include "core/safe_path.h"
#include "formats/engines/crc16.h"
#include "core/settings.h"
#include "core/text_format.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/temp_folders.h"

namespace quorbel {

namespace fs = std::filesystem;

std::string* TemplateSlot(CommandTemplates& t, size_t slot) {
    std::string* slots[] = {&t.add_file,   &t.add_file_password, &t.add_folder,
                            &t.add_folder_password, &t.delete_entries, &t.delete_password,
                            &t.extract,    &t.extract_password,  &t.make_sfx};
    return slot < std::size(slots) ? slots[slot] : nullptr;
}

CommandTemplates DefaultTemplates(const std::string& format) {
    CommandTemplates t;
    if (format == "RAR") {
        t = {"a -ep -y %Archive \"%File\"", "a -ep -y -p%Password %Archive \"%File\"",
             "a -r -y %Archive \"%File\"", "a -r -y -p%Password %Archive \"%File\"",
             "d -y %Archive \"%File\"", "",
             "x -y %Archive %OutputDir \"%File\"", "x -y -p%Password %Archive %OutputDir \"%File\"",
             "s %Archive", true, false};
    } else if (format == "ARJ") {
        t = {"a -e -y %Archive %File", "a -e -y -g%Password %Archive %File",
             "a -r -y %Archive %File", "a -r -y -g%Password %Archive %File",
             "d -y %Archive %File", "",
             "e -y %Archive %File", "e -y -g%Password %Archive %File",
             "y -je1 -y %Archive", false, false};
    } else if (format == "JAR") {
        t = {"a -y %Archive \"%File\"", "a -y -g\"%Password\" %Archive \"%File\"",
             "a -y -r %Archive \"%File\"", "a -y -g\"%Password\" -r %Archive \"%File\"",
             "d -y %Archive \"%File\"", "",
             "e -y %Archive \"%File\"", "e -y -g\"%Password\" %Archive \"%File\"",
             "y -je1 -y %Archive", true, false};
    } else if (format == "ZOO") {
        t = {"-add %Archive %File", "-add %Archive %File", "-add %Archive %File",
             "-add %Archive %File", "-delete %Archive %File", "",
             "-extract %Archive %File", "-extract %Archive %File", "", false, false};
    } else if (format == "ACE") {
        t = {"a -ep -y -m5 %Archive \"%File\"", "a -ep -y -m5 -p%Password %Archive \"%File\"",
             "a -y -r -m5 %Archive \"%File\"", "a -y -r -m5 -p%Password %Archive \"%File\"",
             "d -y %Archive \"%File\"", "d -y -p%Password %Archive \"%File\"",
             "x -y %Archive %OutputDir \"%File\"", "x -y -p%Password %Archive %OutputDir \"%File\"",
             "s %Archive", false, false};
    } else if (format == "LHA") {
        t = {"a /x1 /r2 /m /x %Archive %File", "a /x1 /r2 /m /x %Archive %File",
             "a /r /r2 /m /x %Archive %File", "a /r /r2 /m /x %Archive %File",
             "d /m %Archive %File", "",
             "e /m %Archive %OutputDir %File", "e /m %Archive %OutputDir %File",
             "s /x1 /m %Archive", false, false};
    }
    return t;
}

CommandTemplates TemplatesForProgram(const std::string& format, const std::string& program) {
    std::string base = FileNameOfPath(program);
    CommandTemplates t;
    if (base == "arj") {
        // Debian's port keeps the DOS switches; it extracts by full stored name with "x".
        t = DefaultTemplates("ARJ");
        t.extract = "x -y %Archive %File";
        t.extract_password = "x -y -g%Password %Archive %File";
        t.make_sfx = "";
        // Its "*.*" wants a dot in the name: a file called README would be left out.
        t.expand_wildcards = true;
    } else if (base == "jlha") {
        t.add_file = t.add_file_password = "a %Archive %File";
        t.add_folder = t.add_folder_password = "a %Archive %File";
        t.delete_entries = "d %Archive %File";
        t.extract = t.extract_password = "xf %Archive %File";
        t.expand_wildcards = true;
    } else if (base == "lhasa") {
        t.extract = t.extract_password = "xqf %Archive %File";
    } else if (base == "zoo") {
        t = DefaultTemplates("ZOO");
        t.expand_wildcards = true;
    } else if (base == "unar") {
        t.extract = "-q -f -D -o %OutputDir %Archive %File";
        t.extract_password = "-q -f -D -p %Password -o %OutputDir %Archive %File";
    } else {
        return DefaultTemplates(format);
    }
    t.long_file_names = true;
    return t;
}

CommandTemplates ConfiguredTemplates(const std::string& format, const std::string& program) {
    CommandTemplates t = TemplatesForProgram(format, program);
    AppRegistry registry;
    const std::string key = "Programs\\Templates\\" + format;
    for (size_t i = 0; i < std::size(kTemplateSlotNames); ++i) {
        // A value that is present wins, even when empty (the user switched the command off).
        const std::string missing = "\x01";
        std::string value = registry.ReadText(key, kTemplateSlotNames[i], missing);
        if (value != missing) *TemplateSlot(t, i) = value;
    }
    return t;
}

namespace {
std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Every regular file below `folder`, as paths relative to it ('/'), sorted.
std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            files.push_back(fs::relative(it->path(), folder, ec).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Backslashed(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Opens `relative` below `root` without following a symbolic link at any level; -1 when a
// component is missing, is a link, or the last one is not a regular file.
int OpenInside(const std::string& root, const std::string& relative) {
    int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    size_t start = 0;
    for (;;) {
        size_t slash = relative.find('/', start);
        std::string part = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (slash == std::string::npos) {
            int fd = openat(dir, part.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            close(dir);
            struct stat st{};
            if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
                close(fd);
                return -1;
            }
            return fd;
        }
        int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(dir);
        if (next < 0) return -1;
        dir = next;
        start = slash + 1;
    }
}
}  // namespace

ExternalArchive::ExternalArchive(const std::string& format_name) {
    format_name_ = format_name;
    templates_ = DefaultTemplates(format_name);
}

bool ExternalArchive::LocateProgram() {
    std::string found = program_path_.empty() ? "" : FindExecutable(program_path_);
    if (found.empty()) {
        AppRegistry registry;
        std::string configured = registry.ReadText("Programs", format_name_, "");
        found = FindExecutable(configured);
        if (found.empty()) {
            program_path_.clear();
            return false;
        }
        program_path_ = found;
        templates_ = ConfiguredTemplates(format_name_, found);
    }
    return true;
}

std::string ExternalArchive::StoredNameOf(const ArchiveEntry& entry) const {
    auto raw = FormatHeader(entry);
    if (raw.empty()) return entry.full_name;
    return std::string(reinterpret_cast<const char*>(raw.data()), raw.size());
}

ArchiveEntry* ExternalArchive::SetExternalEntry(size_t index, bool is_file, const std::string& raw_name,
                                                const std::string& shown_name, int64_t packed,
                                                int64_t unpacked, int64_t crc, uint32_t attributes,
                                                bool encrypted, uint16_t dos_date, uint16_t dos_time,
                                                const std::string& comment) {
    ArchiveEntry* e = SetEntry(index, is_file, shown_name, packed, unpacked, crc, attributes,
                               encrypted, dos_date, dos_time, comment);
    if (e && !raw_name.empty())
        StoreFormatHeader(*e, reinterpret_cast<const uint8_t*>(raw_name.data()), raw_name.size());
    return e;
}

bool ExternalArchive::CrcMatches(const ArchiveEntry& entry, const uint8_t* data, size_t size) const {
    if (entry.crc < 0) return true;
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt step = uInt(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, step);
        data += step;
        size -= step;
    }
    return uint32_t(crc) == uint32_t(entry.crc);
}

ArchiveEntry* ExternalArchive::SetMemberEntry(size_t index, bool is_file, const std::string& raw_name,
                                              int64_t packed, int64_t unpacked, int64_t crc,
                                              const engines::MemberMode& mode, bool encrypted,
                                              const engines::MemberTime& time,
                                              const std::string& comment) {
    uint32_t attributes = 0;
    uint32_t unix_mode = 0;
    if (mode.kind == engines::MemberMode::Kind::Unix) {
        // Permission bits, not attribute bits: read-only when the owner may not write.
        // The type nibble is not kept the same way by every archiver (Debian's arj stores 01
        // where st_mode has 010 for a file): what the member is comes from its record.
        unix_mode = (is_file ? 0100000u : 0040000u) | (mode.bits & 07777u);
        if (!is_file) attributes |= kAttrFolder;
        if (!(unix_mode & 0200)) attributes |= kAttrReadOnly;
        attributes |= kAttrArchive;
    } else if (mode.kind == engines::MemberMode::Kind::Dos) {
        attributes = mode.bits & 0x3F;
    } else {
        attributes = kAttrArchive;
    }
    const bool dos_time = time.kind == engines::MemberTime::Kind::Dos;
    ArchiveEntry* e = SetExternalEntry(index, is_file, raw_name, raw_name, packed, unpacked, crc,
                                       attributes, encrypted, dos_time ? time.dos_date : 0,
                                       dos_time ? time.dos_time : 0, comment);
    if (!e) return nullptr;
    e->unix_mode = unix_mode;
    if (time.kind == engines::MemberTime::Kind::Unix) {
        std::time_t t = engines::ToTimeT(time);
        if (t >= 0) SetEntryTime(*e, t);
    }
    return e;
}

engines::DirectoryProgress ExternalArchive::ListingProgress() {
    int64_t step = 0;
    return [this, step](int64_t offset) mutable {
        // The sink is asked every few headers; its range is the archive's length.
        if (++step % 64 != 1) return true;
        if (sink_->SetPos(offset) != 0) return true;
        SetMessage(kMsgAborted);
        return false;
    };
}

namespace {
// A malloc'd block that grows with the output, up to a budget.
class BlockSink final : public engines::OutputSink {
public:
    BlockSink(size_t budget, ProgressSink& progress) : budget_(budget), progress_(progress) {}
    ~BlockSink() override { std::free(data_); }
    bool Put(const uint8_t* data, size_t size) override {
        if (size > budget_ - size_) {
            over_budget_ = true;
            return false;
        }
        if (size_ + size > capacity_) {
            size_t want = std::max<size_t>({capacity_ * 2, size_ + size, 65536});
            want = std::min(want, std::max<size_t>(budget_, 1));
            auto* grown = static_cast<uint8_t*>(std::realloc(data_, want));
            if (!grown) {
                out_of_memory_ = true;
                return false;
            }
            data_ = grown;
            capacity_ = want;
        }
        std::memcpy(data_ + size_, data, size);
        size_ += size;
        if (size_ - reported_ >= (4u << 20)) {
            reported_ = size_;
            if (progress_.SetPos(int64_t(size_)) == 0) {
                cancelled_ = true;
                return false;
            }
        }
        return true;
    }
    MemoryBlock Take() {
        MemoryBlock block;
        if (!data_) return MemoryBlock::Allocate(0);
        block.data.reset(data_);
        block.size = size_;
        data_ = nullptr;
        return block;
    }
    size_t size() const { return size_; }
    const uint8_t* data() const { return data_; }
    bool over_budget_ = false, out_of_memory_ = false, cancelled_ = false;

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0, reported_ = 0;
    size_t budget_;
    ProgressSink& progress_;
};
}  // namespace

MemoryBlock ExternalArchive::UnpackNative(const ArchiveEntry& entry, bool crc16,
                                          const std::function<engines::UnpackStatus(engines::OutputSink&)>& run,
                                          int& status) {
    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), std::string(entry.NamePart()).c_str()));
    sink_->SetRange(0, entry.unpacked > 0 ? entry.unpacked : 1);
    if (entry.unpacked < 0 || uint64_t(entry.unpacked) > SIZE_MAX / 2) {
        SetMessage(kMsgUnexpectedData, path_);
        status = kUnpackDataError;
        return {};
    }
    BlockSink sink(size_t(entry.unpacked), *sink_);
    engines::UnpackStatus r = run(sink);
    if (sink.cancelled_) {
        SetMessage(kMsgAborted);
        status = kUnpackAborted;
        return {};
    }
    if (sink.out_of_memory_) {
        SetMessage(kMsgOutOfMemory);
        status = kStatusFailed;
        return {};
    }
    if (r == engines::UnpackStatus::Unsupported) {
        SetMessage(kMsgUnsupportedMethod);
        status = kUnpackUnsupported;
        return {};
    }
    bool crc_ok = true;
    if (r == engines::UnpackStatus::Ok && int64_t(sink.size()) == entry.unpacked && entry.crc >= 0) {
        crc_ok = crc16 ? engines::Crc16(0, sink.data(), sink.size()) == uint16_t(entry.crc)
                       : engines::Crc32(0, sink.data(), sink.size()) == uint32_t(entry.crc);
    }
    if (r != engines::UnpackStatus::Ok || int64_t(sink.size()) != entry.unpacked || !crc_ok) {
        SetMessage(kMsgDecompressError);
        status = kUnpackDataError;
        return {};
    }
    status = kUnpackOk;
    return sink.Take();
}

void ExternalArchive::ReportProgramFailure(const ProgramResult& result) {
    if (result.outcome == ProgramResult::Outcome::kCancelled) {
        SetMessage(kMsgAborted);
        return;
    }
    std::string detail = result.outcome == ProgramResult::Outcome::kNotStarted ? result.start_error
                                                                                 : result.output;
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
    SetLastMessage(FormatText(StringById(text_id::kProgramFailed).c_str(),
                              FileNameOfPath(program_path_).c_str(), result.Describe().c_str(),
                              detail.c_str()));
}

int ExternalArchive::PrepareWorkingCopy(std::string& working, bool fresh) {
    if (!MakeFolders(WorkFolder())) {
        SetMessage(kMsgCannotCreate, WorkFolder());
        return kStatusCannotCreate;
    }
    std::string name = FileNameOfPath(path_);
    if (name.empty()) name = "archive";
    working = JoinPath(WorkFolder(), name);
    // A copy left from an earlier run must never pass for this run's result.
    unlink(working.c_str());
    if (fresh || !FileExists(path_)) return kStatusOk;
    int r = CopyFileSafely(path_, working, 0600, 102400, [this](int64_t done) {
        return sink_->SetPos(done) != 0;
    });
    if (r == 1) return kStatusOk;
    if (r == 2) {
        SetMessage(kMsgAborted);
        return kStatusAborted;
    }
    SetMessage(kMsgCannotCopy, path_, working);
    return kStatusFailed;
}

std::vector<std::string> ExternalArchive::BuildArguments(CommandKind kind, const std::string& archive_arg,
                                                         const std::string& file_spec,
                                                         const std::string& folder, bool ask_password,
                                                         const std::string& template_text, bool dos) {
    auto path_text = [dos](const std::string& p) { return dos ? WindowsPath(p) : p; };
    std::vector<std::pair<std::string, std::string>> values;
    values.emplace_back("%Archive", path_text(archive_arg));
    std::vector<std::string> expanded;
    if (kind == kAddFolderCommand) {
        if (templates_.expand_wildcards)
            expanded = FilesBelow(folder);
        else
            values.emplace_back("%File", "*.*");
    } else {
        // The stored name of a member, or a file's bare name in its own folder.
        values.emplace_back("%File", dos ? Backslashed(file_spec) : file_spec);
    }
    if (ask_password && HasProgramPassword()) values.emplace_back("%Password", ProgramPassword());
    if (!folder.empty()) {
        std::string out = path_text(folder);
        while (out.size() > 1 && (out.back() == '/' || out.back() == '\\')) out.pop_back();
        values.emplace_back("%OutputDir", out + (dos ? "\\" : "/"));
    }
    std::vector<std::string> args;
    for (const std::string& arg : SplitCommandTemplate(template_text)) {
        if (kind == kAddFolderCommand && templates_.expand_wildcards && arg == "%File") {
            args.insert(args.end(), expanded.begin(), expanded.end());
            continue;
        }
        args.push_back(FillPlaceholders(arg, values));
    }
    return args;
}

int ExternalArchive::RunCommand(CommandKind kind, const std::string& file_spec,
                                const std::string& folder, bool ask_password) {
    if (!LocateProgram()) {
        SetMessage(kMsgNoProgram, format_name_);
        return kStatusNoProgram;
    }
    bool allowed = kind == kAddCommand || kind == kDeleteCommand ? CanUpdate()
                   : kind == kAddFolderCommand                   ? CanAddFolder()
                   : kind == kExtractCommand                     ? CanExtract()
                                                                 : CanMakeSfx();
    const bool password = ask_password && HasProgramPassword();
    std::string text;
    switch (kind) {
        case kAddCommand: text = password ? templates_.add_file_password : templates_.add_file; break;
        case kAddFolderCommand:
            text = password ? templates_.add_folder_password : templates_.add_folder;
            break;
        case kDeleteCommand:
            text = password && !templates_.delete_password.empty() ? templates_.delete_password
                                                                   : templates_.delete_entries;
            break;
        case kExtractCommand: text = password ? templates_.extract_password : templates_.extract; break;
        case kSfxCommand: text = templates_.make_sfx; break;
    }
    if (!allowed || text.empty()) return Unsupported();

    std::string archive_arg = path_;
    if (kind != kExtractCommand) {
        int r = PrepareWorkingCopy(working_path_, fresh_working_copy_);
        if (r != kStatusOk) return r;
        archive_arg = working_path_;
    }
    const bool dos = IsMzProgram(program_path_);
    std::vector<std::string> args =
        BuildArguments(kind, archive_arg, file_spec, folder, ask_password, text, dos);
    if (kind == kExtractCommand && !folder.empty()) MakeFolders(folder);

    ProgramRequest request;
    request.program = program_path_;
    request.arguments = args;
    request.working_folder = kind == kSfxCommand ? WorkFolder() : folder;
    request.sink = sink_;
    last_command_ = args;
    last_command_.insert(last_command_.begin(), program_path_);
    sink_->SetRange(0, 100);
    sink_->SetText(FormatText(MessageTemplate(kMsgRunning).c_str(), FileNameOfPath(program_path_).c_str()));
    ProgramResult result = RunProgram(request);
    if (!result.Succeeded()) {
        ReportProgramFailure(result);
        if (kind != kExtractCommand) unlink(working_path_.c_str());
        return result.outcome == ProgramResult::Outcome::kCancelled ? kStatusAborted : kStatusFailed;
    }
    if (kind == kExtractCommand || kind == kSfxCommand) return kStatusOk;
    return JudgeAndCommit(working_path_, commit_check_, commit_failure_text_, commit_subject_);
}

int ExternalArchive::JudgeAndCommit(const std::string& working,
                                    const std::function<bool(ExternalArchive&)>& check,
                                    int failure_text, const std::string& subject) {
    // The archiver said it succeeded; believe it only when its archive reads back and holds
    // (or no longer holds) what was asked.
    auto reread = NewOfSameFormat();
    reread->SetSink(&SilentSink());
    reread->program_path_ = program_path_;
    reread->templates_ = templates_;
    int status = FileExists(working) ? reread->Open(working) : kStatusCannotOpen;
    if (status != kStatusOk) {
        reread.reset();
        unlink(working.c_str());
        SetLastMessage(FormatText(StringById(text_id::kNoArchiveWritten).c_str(), path_.c_str()));
        return kStatusFailed;
    }
    bool ok = !check || check(*reread);
    reread.reset();
    if (!ok) {
        unlink(working.c_str());
        SetLastMessage(FormatText(StringById(failure_text).c_str(), subject.c_str()));
        return kStatusFailed;
    }
    return CommitRebuilt(working);
}

int ExternalArchive::AddFile(const std::string& disk_path, const std::string& base_folder,
                             const std::string& archive_folder) {
    if (!LocateProgram()) {
        SetMessage(kMsgNoProgram, format_name_);
        return kStatusNoProgram;
    }
    // The member's path: the file's path below the base folder, inside the archive folder.
    std::string relative = FileNameOfPath(disk_path);
    std::string base = base_folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (!base.empty() && disk_path.size() > base.size() + 1 &&
        disk_path.compare(0, base.size(), base) == 0 && disk_path[base.size()] == '/')
        relative = disk_path.substr(base.size() + 1);
    std::string folder = archive_folder;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    while (!folder.empty() && folder.front() == '/') folder.erase(0, 1);
    std::string stored = folder.empty() ? relative : folder + "/" + relative;
    auto safe = SafeRelativePath(stored);
    if (!safe) {
        SetLastMessage(FormatText(StringById(text_id::kUnsafeMemberName).c_str(), stored.c_str()));
        return kStatusFailed;
    }
    stored = *safe;

    const std::string shown = Backslashed(stored);
    commit_check_ = [shown](ExternalArchive& archive) { return archive.FindEntry(shown) >= 0; };
    commit_failure_text_ = text_id::kNotStored;
    commit_subject_ = shown;
    fresh_working_copy_ = false;
    if (stored.find('/') == std::string::npos)
        return RunCommand(kAddCommand, FileNameOfPath(disk_path), FolderOfPath(disk_path), true);

    // A member below a folder: the file is staged under its relative path and the staging
    // folder is added as a tree, so the archiver stores exactly that path.
    std::string staging = CreateScratchFolder(LoadHandlerOptions().temporary_directory);
    if (staging.empty()) {
        SetMessage(kMsgCannotCreate, WorkFolder());
        return kStatusCannotCreate;
    }
    std::string target = JoinPath(staging, stored);
    int status;
    if (!MakeFolders(FolderOfPath(target))) {
        SetMessage(kMsgCannotCreate, target);
        status = kStatusCannotCreate;
    } else {
        int r = CopyFileSafely(disk_path, target, 0600, 102400, [this](int64_t done) {
            return sink_->SetPos(done) != 0;
        });
        if (r == 1) {
            status = RunCommand(kAddFolderCommand, staging, staging, true);
        } else if (r == 2) {
            SetMessage(kMsgAborted);
            status = kStatusAborted;
        } else {
            SetMessage(kMsgCannotCopy, disk_path, target);
            status = kStatusFailed;
        }
    }
    RemoveTree(staging);
    return status;
}

int ExternalArchive::CreateFromFolder(const std::string& archive_path, const std::string& folder) {
    ProgressScope progress(sink_);
    sink_->SetRange(0, 100);
    if (!LocateProgram()) {
        SetMessage(kMsgNoProgram, format_name_);
        return kStatusNoProgram;
    }
    if (!CanAddFolder()) return Unsupported();
    MakeFolders(FolderOfPath(archive_path));
    Close();
    path_ = archive_path;
    std::vector<std::string> expected;
    for (const std::string& f : FilesBelow(folder)) expected.push_back(Backslashed(f));
    commit_check_ = [expected](ExternalArchive& archive) {
        for (const std::string& name : expected)
            if (archive.FindEntry(name) < 0) return false;
        return true;
    };
    commit_failure_text_ = text_id::kNotStored;
    commit_subject_ = folder;
    fresh_working_copy_ = true;
    int r = RunCommand(kAddFolderCommand, folder, folder, false);
    fresh_working_copy_ = false;
    return r;
}

int ExternalArchive::DeleteEntry(int index, bool /*save_now*/) {
    if (index < 0 || size_t(index) >= entries_.size()) {
        SetMessage(kMsgOverflow);
        return kStatusFailed;
    }
    const ArchiveEntry& entry = entries_[size_t(index)];
    const std::string shown = entry.full_name;
    const std::string raw = StoredNameOf(entry);
    // Gone means: no member of that name is left (a same-named member in another folder
    // stays, and is a different name).
    commit_check_ = [shown](ExternalArchive& archive) { return archive.FindEntry(shown) < 0; };
    commit_failure_text_ = text_id::kNotDeleted;
    commit_subject_ = shown;
    fresh_working_copy_ = false;
    return RunCommand(kDeleteCommand, raw, "", entry.encrypted);
}

MemoryBlock ExternalArchive::UnpackEntry(const ArchiveEntry& entry, int& status) {
    status = kStatusFailed;
    if (entry.encrypted && !HasProgramPassword()) {
        SetMessage(kMsgNeedPassword, entry.full_name);
        status = kUnpackNeedPassword;
        return {};
    }
    const std::string raw = StoredNameOf(entry);
    // Where the archiver will write it, decided before it runs: a name that leaves the
    // folder is refused.
    auto relative = SafeRelativePath(entry.full_name);
    if (!relative) {
        SetLastMessage(FormatText(StringById(text_id::kUnsafeMemberName).c_str(), entry.full_name.c_str()));
        return {};
    }
    std::string scratch = CreateScratchFolder(LoadHandlerOptions().temporary_directory);
    if (scratch.empty()) {
        SetMessage(kMsgCannotCreate, WorkFolder());
        return {};
    }
    struct Cleanup {
        std::string path;
        ~Cleanup() { RemoveTree(path); }
    } cleanup{scratch};

    int r = RunCommand(kExtractCommand, raw, scratch, entry.encrypted);
    if (r != kStatusOk) {
        status = r == kStatusAborted ? kUnpackAborted : r;
        return {};
    }
    // Exactly the member's path; an archiver that drops folders puts it at the top, and since
    // only this member was asked for, nothing else can be there.
    int fd = OpenInside(scratch, *relative);
    if (fd < 0 && relative->find('/') != std::string::npos)
        fd = OpenInside(scratch, std::string(FileNameOfPath(*relative)));
    if (fd < 0) {
        SetMessage(kMsgDecompressError, entry.full_name);
        status = kUnpackDataError;
        return {};
    }
    struct stat st{};
    fstat(fd, &st);
    if (entry.unpacked >= 0 && st.st_size != entry.unpacked) {
        close(fd);
        SetMessage(kMsgDecompressError, entry.full_name);
        status = kUnpackDataError;
        return {};
    }
    MemoryBlock block = MemoryBlock::Allocate(size_t(st.st_size));
    if (!block) {
        close(fd);
        SetMessage(kMsgOutOfMemory);
        return {};
    }
    size_t done = 0;
    while (done < size_t(st.st_size)) {
        ssize_t got = read(fd, block.data.get() + done, size_t(st.st_size) - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += size_t(got);
    }
    close(fd);
    if (done != size_t(st.st_size) || !CrcMatches(entry, block.data.get(), done)) {
        SetMessage(kMsgDecompressError, entry.full_name);
        status = kUnpackDataError;
        return {};
    }
    block.size = done;
    status = kUnpackOk;
    return block;
}

int ExternalArchive::SaveAs(const std::string& target_path, int64_t, const std::vector<uint8_t>*) {
    fresh_working_copy_ = false;
    // The program is made from the working copy, named like it with ".exe"; one left from an
    // earlier run is removed first so that it is never taken for this run's.
    std::string name = FileNameOfPath(path_);
    size_t dot = name.rfind('.');
    std::string exe = JoinPath(WorkFolder(), (dot == std::string::npos ? name : name.substr(0, dot)) + ".exe");
    unlink(exe.c_str());
    int r = RunCommand(kSfxCommand, target_path, "", true);
    unlink(working_path_.c_str());
    if (r != kStatusOk) return r;
    struct stat st{};
    if (stat(exe.c_str(), &st) != 0 || st.st_size == 0) {
        SetMessage(kMsgCannotCreate, exe);
        return kStatusCannotCreate;
    }
    std::string dest_folder = FolderOfPath(target_path);
    int64_t free_space = FreeSpace(dest_folder);
    if (free_space >= 0 && free_space < st.st_size) {
        SetMessage(kMsgNoDiskSpace, dest_folder, MountPointOf(dest_folder), SizeShortText(free_space),
                   SizeShortText(st.st_size));
        return 9;
    }
    int c = CopyFileSafely(exe, target_path, 0755, 102400, [this](int64_t d) { return sink_->SetPos(d) != 0; });
    unlink(exe.c_str());
    if (c != 1) {
        SetMessage(kMsgCannotCopy, exe, target_path);
        return kStatusFailed;
    }
    return kStatusOk;
}

}  // namespace quorbel
