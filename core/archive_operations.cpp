// The format-neutral operations of every handler, built on the format primitives.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/archive_handler.h"
#include "core/messages.h"
#include "core/safe_path.h"
#include "core/text_format.h"
#include "core/type_cache.h"
#include "core/user_prompts.h"
#include "platform/file_system.h"
#include "platform/trash.h"

namespace quorbel {

namespace fs = std::filesystem;

namespace {
bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string FolderOf(const std::string& path) { return FolderOfPath(path); }

// Copies a file to `target` through a temporary file in the target's folder, flushed to disk
// and renamed into place. 0 on success, 3 when the destination cannot be written, 1 when the
// source cannot be read.
int CopyIntoPlace(const std::string& source, const std::string& target, mode_t mode,
                  ProgressSink& sink) {
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return 1;
    std::string temp;
    int out = CreateTempBeside(target, temp);
    if (out < 0) {
        close(in);
        return 3;
    }
    struct stat st{};
    fstat(in, &st);
    sink.SetRange(0, st.st_size, false);
    std::vector<uint8_t> buf(204800);
    int64_t done = 0;
    bool ok = true;
    for (;;) {
        ssize_t got = read(in, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!WriteAll(out, buf.data(), size_t(got))) {
            ok = false;
            break;
        }
        done += got;
        sink.SetPos(done);
    }
    close(in);
    ok = ok && fchmod(out, mode) == 0 && fsync(out) == 0;
    ok = close(out) == 0 && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return 3;
    }
    return 0;
}
}  // namespace

int ArchiveHandler::ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                                 bool use_folder_names, std::string* out_path, bool write) {
    if (!entry.is_file) return kStatusOk;
    if (write && entry.encrypted && !HasProgramPassword()) {
        SetMessage(kMsgNeedPassword, entry.full_name);
        return kStatusNeedPassword;
    }
    const std::string dest = dest_folder.empty() ? WorkFolder() : dest_folder;

    // Where the member goes: decided before anything is unpacked or written.
    std::optional<std::string> relative =
        SafeRelativePath(use_folder_names ? entry.full_name : std::string(entry.NamePart()));
    if (!relative) {
        last_message_ = FormatText(StringById(text_id::kUnsafeMemberName).c_str(), entry.full_name.c_str());
        return kStatusFailed;
    }
    const std::string target = JoinPath(dest, *relative);
    const std::string target_folder = FolderOf(target);

    if (!write) {
        // Clean-up of an earlier extraction: remove the file and its folder when empty.
        if (FileExists(target)) {
            chmod(target.c_str(), 0600);
            unlink(target.c_str());
        }
        rmdir(use_folder_names ? target_folder.c_str() : dest.c_str());
        return kStatusOk;
    }

    ProgressScope progress(sink_);
    sink_->SetText(FormatText(MessageTemplate(kMsgExtracting).c_str(), std::string(entry.NamePart()).c_str()));

    // A file already on disk: newer ones are kept, others replaced only when allowed.
    struct stat existing{};
    bool exists = lstat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        SetMessage(kMsgCannotCreate, target);
        return kStatusCannotCreate;
    }
    if (exists) {
        if (Extraction().skip_older && existing.st_mtime > entry.time) {
            skipped_.push_back(FormatText(StringById(text_id::kSkippedNewer).c_str(), target.c_str()));
            return kStatusOk;
        }
        if (!Extraction().overwrite) {
            bool replace = false;
            if (!skip_all_existing_) {
                auto answer = Prompts().AskOverwrite(
                    FormatText(StringById(text_id::kOverwritePrompt).c_str(), target.c_str()));
                if (answer == UserPrompts::Overwrite::All) Extraction().overwrite = true;
                if (answer == UserPrompts::Overwrite::None) skip_all_existing_ = true;
                replace = answer == UserPrompts::Overwrite::Yes || answer == UserPrompts::Overwrite::All;
            }
            if (!replace) {
                skipped_.push_back(FormatText(StringById(text_id::kSkippedExisting).c_str(), target.c_str()));
                return kStatusOk;
            }
        }
    }

    // A format that writes members straight into files unpacks after the checks below; the
    // others unpack first, so that a damaged member leaves nothing behind on disk.
    const bool to_file = UnpacksToFile();
    int status = kStatusFailed;
    MemoryBlock block;
    if (!to_file) {
        block = UnpackEntry(entry, status);
        if (status != kUnpackOk) return status;
        if (!block) return kStatusFailed;
    }

    // The folders this extraction makes, deepest first: a member that fails to unpack into
    // them takes them away again.
    std::vector<std::string> made;
    if (use_folder_names && !IsFolder(target_folder)) {
        for (std::string f = target_folder; f.size() > dest.size() && !FileExists(f); f = FolderOf(f))
            made.push_back(f);
        if (!MakeFolders(target_folder)) {
            SetMessage(kMsgCannotCreate, target);
            return kStatusCannotCreate;
        }
    }
    auto undo_folders = [&] {
        for (const std::string& f : made) rmdir(f.c_str());
    };
    // A symbolic link already in the destination must not carry the file elsewhere. The
    // member's own name is replaced, never followed (a link there is swapped out), so its
    // folder decides.
    if (!FolderStaysInside(dest, target_folder)) {
        undo_folders();
        last_message_ = FormatText(StringById(text_id::kUnsafeMemberName).c_str(), entry.full_name.c_str());
        return kStatusFailed;
    }
    int64_t free_space = FreeSpace(target_folder);
    int64_t reusable = exists && S_ISREG(existing.st_mode) ? int64_t(existing.st_size) : 0;
    if (free_space >= 0 && entry.unpacked > 0 && free_space + reusable <= entry.unpacked) {
        undo_folders();
        SetMessage(kMsgNoDiskSpace, target_folder, MountPointOf(target_folder),
                   SizeShortText(free_space), SizeShortText(entry.unpacked));
        return kStatusNoDiskSpace;
    }
    status = WriteExtractedFile(entry, target, to_file ? nullptr : &block);
    if (status != kStatusOk) {
        undo_folders();
        return status;
    }
    if (out_path) *out_path = target;
    if (!RecordExtracted(target)) return kStatusFailed;
    return kStatusOk;
}

int ArchiveHandler::WriteExtractedFile(const ArchiveEntry& entry, const std::string& target,
                                       const MemoryBlock* block) {
    // Written beside the target and renamed over it, so that an interrupted or failed write
    // never leaves a half file, nor destroys the file it was to replace.
    std::string temp;
    int fd = CreateTempBeside(target, temp);
    if (fd < 0) {
        SetMessage(kMsgCannotCreate, target);
        return kStatusCannotCreate;
    }
    mode_t mask = umask(0);
    umask(mask);
    int status = kStatusCannotCreate;
    if (block)
        status = WriteAll(fd, block->data.get(), block->size) ? int(kStatusOk) : int(kStatusCannotCreate);
    else if ((status = UnpackEntryToFile(entry, fd)) == kUnpackOk)
        status = kStatusOk;
    // Permission bits from a Unix archiver are kept (scripts stay executable), but never
    // setuid, setgid or sticky. Bits, attributes and time go onto the open file, so that the
    // file appears complete under its name.
    unsigned mode = 0666 & ~mask;
    if ((entry.unix_mode & 0170000) == 0100000 || ((entry.unix_mode & 0170000) == 0 && entry.unix_mode))
        mode = (entry.unix_mode & 0777) & ~mask;
    bool ok = status == kStatusOk &&
              SetDosAttributes(fd, mode, entry.attributes & (kAttrReadOnly | kAttrArchive | kAttrSystem));
    if (ok) {
        const timespec times[2] = {{entry.time, 0}, {entry.time, 0}};
        futimens(fd, times);
    }
    ok = close(fd) == 0 && ok;
    if (!ok || !ReplaceWithTemp(temp, target)) {
        unlink(temp.c_str());
        // An unpacking failure keeps its own status and message.
        if (status != kStatusOk && status != kStatusCannotCreate) return status;
        SetMessage(kMsgCannotCreate, target);
        return kStatusCannotCreate;
    }
    return kStatusOk;
}

int ArchiveHandler::ExtractEntryAt(int index, const std::string& dest_folder,
                                   bool use_folder_names, std::string* out_path, bool write) {
    if (index < 0 || size_t(index) >= entries_.size()) return kStatusFailed;
    return ExtractEntry(entries_[size_t(index)], dest_folder, use_folder_names, out_path, write);
}

int ArchiveHandler::ExtractAll(const std::string& dest_folder, bool use_folder_names, bool write) {
    if (write && !MakeFolders(dest_folder)) {
        SetMessage(kMsgCannotCreate, dest_folder);
        return kStatusCannotCreate;
    }
    extracted_.clear();
    sink_->Begin();
    sink_->SetRange(0, int64_t(entries_.size()));
    int status = kStatusOk;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const ArchiveEntry& e = entries_[i];
        if (!e.is_file) continue;
        sink_->SetText(FormatText(MessageTemplate(write ? kMsgExtracting : kMsgDeleting).c_str(),
                                  e.full_name.c_str()));
        if (!StillGoing(int64_t(i))) {
            status = kStatusAborted;
            break;
        }
        status = ExtractEntryAt(int(i), dest_folder, use_folder_names, nullptr, write);
        if (status != kStatusOk) break;
    }
    sink_->End(0);
    return status;
}

int ArchiveHandler::ExtractTree(const FolderNode* selection, const std::string& dest_folder) {
    if (!selection) return kStatusFailed;
    sink_->Begin();
    sink_->SetRange(0, int64_t(selection->files.size()));
    int status = kStatusOk;
    for (size_t i = 0; i < selection->files.size() && status == kStatusOk; ++i) {
        if (!StillGoing(int64_t(i))) {
            status = kStatusAborted;
            break;
        }
        status = ExtractEntryAt(selection->files[i], dest_folder, true, nullptr, true);
    }
    for (size_t c = 0; c < selection->children.size() && status == kStatusOk; ++c)
        status = ExtractTree(selection->children[c].get(), dest_folder);
    sink_->End(0);
    return status;
}

namespace {
// Extraction into our own scratch folders always replaces what an earlier one left there.
struct ReplaceAlways {
    ExtractOptions& options;
    ExtractOptions saved;
    explicit ReplaceAlways(ExtractOptions& o) : options(o), saved(o) {
        options.overwrite = true;
        options.skip_older = false;
    }
    ~ReplaceAlways() {
        options.overwrite = saved.overwrite;
        options.skip_older = saved.skip_older;
    }
};
}  // namespace

int ArchiveHandler::ViewEntry(int index) {
    ReplaceAlways replace(Extraction());
    std::string path;
    int status = ExtractEntryAt(index, WorkFolder(), false, &path, true);
    if (status != kStatusOk) return status;
    if (path.empty()) {
        // Nothing was written (a link, or a member extraction leaves out).
        SetMessage(kMsgCannotOpen, Entry(size_t(index)).full_name);
        return kStatusFailed;
    }
    if (!CurrentLauncher().OpenWithAssociatedProgram(path)) {
        SetMessage(kMsgCannotOpen, path);
        return kStatusFailed;
    }
    return kStatusOk;
}

int ArchiveHandler::DragTree(const FolderNode* selection) {
    ReplaceAlways replace(Extraction());
    int status = ExtractTree(selection, DragFolder());
    if (status != kStatusOk) return status;
    std::string folder = DragFolder();
    std::string inside = FolderPathOf(selection);
    for (char& c : inside)
        if (c == '\\') c = '/';
    if (!inside.empty()) folder += "/" + inside;
    return CurrentLauncher().StartDrag({folder}) ? kStatusOk : kStatusFailed;
}

int ArchiveHandler::DragEntries(const std::vector<int>& indices) {
    ReplaceAlways replace(Extraction());
    std::vector<std::string> paths;
    sink_->Begin();
    sink_->SetRange(0, int64_t(indices.size()));
    for (size_t i = 0; i < indices.size(); ++i) {
        if (!StillGoing(int64_t(i))) {
            sink_->End(0);
            return kStatusAborted;
        }
        std::string path;
        int status = ExtractEntryAt(indices[i], DragFolder(), true, &path, true);
        if (status != kStatusOk) {
            sink_->End(0);
            return status;
        }
        if (!path.empty()) paths.push_back(path);
    }
    sink_->End(0);
    return CurrentLauncher().StartDrag(paths) ? kStatusOk : kStatusFailed;
}

int ArchiveHandler::ModifyEntry(int index, const std::string& new_full_name,
                                const std::string* new_comment) {
    if (index < 0 || size_t(index) >= entries_.size()) {
        SetMessage(kMsgOverflow);
        return kStatusFailed;
    }
    ArchiveEntry& e = entries_[size_t(index)];
    bool changed = false;
    if (!new_full_name.empty()) {
        ArchiveEntry renamed;
        AssignName(renamed, new_full_name);
        // Case matters to a Linux file system: a change of letter case is a rename too.
        if (renamed.full_name != e.full_name) {
            e.full_name = renamed.full_name;
            e.name_offset = renamed.name_offset;
            e.type_index = renamed.type_index;
            e.is_setup = renamed.is_setup;
            changed = true;
        }
    }
    if (new_comment) {
        if (!new_comment->empty() && *new_comment != e.comment) {
            e.comment = *new_comment;
            changed = true;
        }
    } else if (!e.comment.empty()) {
        e.comment.clear();
        changed = true;
    }
    if (!changed) return kStatusOk;
    modified_ = true;
    return Save("", 0, nullptr);
}

int ArchiveHandler::Create(const std::string& path) {
    Close();
    unlink(path.c_str());
    MakeFolders(FolderOf(path));
    if (!stream_.OpenFile(path, false)) {
        SetMessage(kMsgCannotCreate, path);
        return kStatusCannotCreate;
    }
    path_ = path;
    RecordFileInfo(path);
    return kStatusOk;
}

int ArchiveHandler::CreateFromFolder(const std::string& archive_path, const std::string& folder) {
    sink_->Begin();
    sink_->SetText(MessageTemplate(kMsgEnumerating));
    sink_->SetRange(0, 100);
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file(ec)) files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    int status = Create(archive_path);
    if (status == kStatusOk) {
        sink_->SetRange(0, int64_t(files.size()));
        for (size_t i = 0; i < files.size(); ++i) {
            sink_->SetText(FormatText(MessageTemplate(kMsgAdding).c_str(), files[i].c_str()));
            if (sink_->SetPos(int64_t(i)) == 0) {
                SetMessage(kMsgAborted);
                status = kStatusAborted;
                break;
            }
            status = AddFile(files[i], folder, "");
            if (status != kStatusOk) break;
        }
    }
    sink_->End(0);
    if (status != kStatusOk) return status;
    return Save("", 0, nullptr);
}

int ArchiveHandler::AddFiles(const AddRequest& request) {
    sink_->Begin();
    sink_->SetRange(0, int64_t(request.paths.size()));
    int64_t total = 0;
    int status = kStatusOk;
    std::string base = request.base_folder;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    for (size_t i = 0; i < request.paths.size(); ++i) {
        const std::string& original = request.paths[i];
        sink_->SetText(FormatText(MessageTemplate(kMsgAdding).c_str(), original.c_str()));
        if (sink_->SetPos(int64_t(i)) == 0) {
            SetMessage(kMsgAborted);
            status = kStatusAborted;
            break;
        }
        std::string path = original;
        struct stat st{};
        if (stat(path.c_str(), &st) != 0) {
            SetMessage(kMsgCannotOpen, path);
            status = kStatusCannotOpen;
            break;
        }
        // The stored name: the path below the base folder, under the archive folder.
        std::string stored = path;
        if (!base.empty() && stored.compare(0, base.size(), base) == 0) {
            stored.erase(0, base.size());
            if (!stored.empty() && stored[0] == '/') stored.erase(0, 1);
        }
        if (request.store_format83) stored = ShortPathName(stored);
        if (!request.archive_folder.empty()) stored = request.archive_folder + "/" + stored;
        bool add = true;
        if (request.action != AddRequest::kAddReplace) {
            int found = FindEntry(stored);
            if (found < 0)
                add = request.action == AddRequest::kUpdate;
            else
                add = st.st_mtime > entries_[size_t(found)].time;
        }
        uint32_t attrs = GetDosAttributes(path);
        if (request.include_only_non_archived && !(attrs & kAttrArchive)) add = false;
        if (!request.include_system_files && (attrs & (kAttrHidden | kAttrSystem))) add = false;
        if (!add) continue;
        total += int64_t(st.st_size);
        status = AddFile(path, request.base_folder, request.archive_folder);
        if (status != kStatusOk) break;
        if (request.reset_archive_attribute) SetDosAttributes(path, attrs & ~kAttrArchive);
    }
    if (status == kStatusOk) {
        int64_t free_space = FreeSpace(WorkFolder());
        if (free_space >= 0 && total >= free_space) {
            SetMessage(kMsgNoDiskSpace, WorkFolder(), MountPointOf(WorkFolder()),
                       SizeShortText(free_space), SizeShortText(total));
            status = kStatusNoDiskSpace;
        }
    }
    sink_->End(0);
    if (status != kStatusOk) return status;
    return Save("", 0, nullptr);
}

int ArchiveHandler::DeleteEntry(int index, bool save_now) {
    if (index < 0 || size_t(index) >= entries_.size()) {
        SetMessage(kMsgOverflow);
        return kStatusFailed;
    }
    if (LoadHandlerOptions().move_deleted_to_bin && entries_[size_t(index)].is_file) {
        sink_->SetText(FormatText(MessageTemplate(kMsgDeleting).c_str(),
                                  std::string(entries_[size_t(index)].NamePart()).c_str()));
        std::string copy;
        int status;
        {
            ScopedSink<ArchiveHandler> silent(*this, &SilentSink());
            ReplaceAlways replace(Extraction());
            status = ExtractEntryAt(index, WorkFolder(), true, &copy, true);
        }
        if (status != kStatusOk) return status;
        if (!copy.empty() && FileExists(copy)) MoveToTrash(copy);
    }
    RemoveEntry(index, true);
    modified_ = true;
    return save_now ? Save("", 0, nullptr) : kStatusOk;
}

int ArchiveHandler::DeleteEntries(std::vector<int> indices, bool save_now) {
    sink_->Begin();
    sink_->SetText(FormatText(MessageTemplate(kMsgSearching).c_str(), path_.c_str()));
    sink_->SetRange(0, int64_t(indices.size()) - 1);
    // Highest index first, so that the indices still to do stay valid as entries move down.
    for (size_t i = 0; i < indices.size(); ++i) {
        if (!StillGoing(int64_t(i))) {
            sink_->End(0);
            return kStatusAborted;
        }
        for (size_t j = i + 1; j < indices.size(); ++j)
            if (indices[j] > indices[i]) std::swap(indices[i], indices[j]);
    }
    sink_->SetRange(0, int64_t(indices.size()));
    for (size_t i = 0; i < indices.size(); ++i) {
        int index = indices[i];
        if (index >= 0 && size_t(index) < entries_.size())
            sink_->SetText(FormatText(MessageTemplate(kMsgDeleting).c_str(),
                                      std::string(entries_[size_t(index)].NamePart()).c_str()));
        if (sink_->SetPos(int64_t(i)) == 0) {
            SetMessage(kMsgAborted);
            sink_->End(0);
            return kStatusAborted;
        }
        int status = DeleteEntry(index, false);
        if (status != kStatusOk) {
            sink_->End(0);
            return status;
        }
    }
    sink_->End(0);
    return save_now ? Save("", 0, nullptr) : kStatusOk;
}

int ArchiveHandler::CommitRebuilt(const std::string& temp_path) {
    if (EqualsNoCase(temp_path, path_)) return kStatusOk;
    std::string target = path_;
    stream_.Close();
    ProgressScope progress(sink_);

    struct stat st{};
    bool had_archive = stat(target.c_str(), &st) == 0;
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = had_archive ? (st.st_mode & 07777) : (0666 & ~mask);

    if (LoadHandlerOptions().rename_old_file && had_archive && st.st_size > 0) {
        std::string name = target.substr(target.find_last_of('/') + 1);
        size_t dot = name.rfind('.');
        std::string old = dot == std::string::npos || dot == 0
                              ? target + ".old"
                              : target.substr(0, target.size() - (name.size() - dot)) + ".old";
        if (old == target) old += ".old";
        if (FileExists(old) && MoveToTrash(old).empty()) {
            SetMessage(kMsgCannotRename, target);
            return kStatusFailed;
        }
        // The previous archive gets its old name as a second link, so the archive's own name
        // keeps a good file until the new one replaces it.
        if (link(target.c_str(), old.c_str()) != 0) {
            ProgressSink& silent = SilentSink();
            if (CopyIntoPlace(target, old, st.st_mode & 07777, silent) != 0) {
                SetMessage(kMsgCannotRename, target);
                return kStatusFailed;
            }
        }
    }

    for (;;) {
        int result = 0;
        chmod(temp_path.c_str(), mode);
        if (rename(temp_path.c_str(), target.c_str()) == 0) {
        } else if (errno == EXDEV) {
            result = CopyIntoPlace(temp_path, target, mode, *sink_);
            if (result == 0) unlink(temp_path.c_str());
        } else {
            result = 3;
        }
        if (result == 0) {
            SyncFolder(FolderOf(target));
            path_.clear();
            return Open(target);
        }
        SetMessage(kMsgCannotCopy, temp_path, target);
        if (result != 3) return kStatusFailed;
        // The destination cannot be written: offer another folder.
        std::string question = last_message_ + "\n" + MessageTemplate(kMsgChooseOtherFolder);
        if (!Prompts().AskYesNo(question)) {
            SetMessage(kMsgAborted);
            return kStatusFailed;
        }
        std::string name = target.substr(target.find_last_of('/') + 1);
        for (;;) {
            auto folder = Prompts().ChooseFolder(MessageTemplate(kMsgChooseOtherFolder), FolderOf(target));
            if (!folder) {
                SetMessage(kMsgAborted);
                return kStatusFailed;
            }
            std::string candidate = JoinPath(*folder, name);
            if (FileExists(candidate) &&
                !Prompts().AskYesNo(FormatText(MessageTemplate(kMsgReplaceExisting).c_str(), candidate.c_str())))
                continue;
            target = candidate;
            break;
        }
    }
}

}  // namespace quorbel
