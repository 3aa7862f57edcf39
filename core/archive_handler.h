// The polymorphic base of every archive format. A handler owns what it read from one archive
// file: the entries, their folder tree, the archive's descriptive texts, the column hints and
// two private scratch folders. Format classes supply the primitives (ReadDirectory, AddFile,
// UnpackEntry, Save) and their capability answers; the shared operations are built on them.
// Every failing operation returns a StatusCode and leaves a complete message in LastMessage().
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/archive_entry.h"
#include "core/data_stream.h"
#include "core/progress_sink.h"
#include "core/settings.h"
#include "core/status.h"

namespace quorbel {

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

// A heap block holding one whole unpacked member; it belongs to the caller.
struct MemoryBlock {
    std::unique_ptr<uint8_t, FreeDeleter> data;
    size_t size = 0;
    explicit operator bool() const { return data != nullptr; }
    // malloc of at least one byte (so an empty member is still a block); none on failure.
    static MemoryBlock Allocate(size_t size);
};

struct FolderNode {
    FolderNode* parent = nullptr;
    std::string name;
    std::vector<std::unique_ptr<FolderNode>> children;
    std::vector<int> files;  // entry indices of the files in this folder
    int list_index = -1;     // position in the handler's folder list (-1: the root)
};

struct FolderListItem {
    FolderNode* node;  // its path: ArchiveHandler::FolderPathOf
};

// The longest member name and the deepest folder path a handler accepts: beyond them a name is
// damage (no file system holds it) and would only cost memory and time.
inline constexpr size_t kMaxMemberNameLength = 32768;
inline constexpr size_t kMaxMemberDepth = 1024;

// What an add operation asks for.
struct AddRequest {
    enum Action { kAddReplace = 0, kFreshen = 1, kUpdate = 2 };
    std::vector<std::string> paths;
    int action = kUpdate;
    std::string base_folder;     // removed from the front of each path
    std::string archive_folder;  // put in front of each stored name
    std::string password;
    bool store_format83 = false;
    bool include_sub_folders = true;
    bool save_current_folder_name = false;
    bool include_only_non_archived = false;
    bool reset_archive_attribute = false;
    bool include_system_files = true;

    // The defaults of "Options\AddFiles\".
    static AddRequest FromSettings();
};

// The descriptive texts of the archive file itself (statistics view).
struct ArchiveInfo {
    std::string file_name, folder, size_text, short_path, created, modified, accessed,
        attributes, file_count, total_packed, total_unpacked, ratio;
    int64_t file_size = -1;
};

// Column hints: for each text column, the length of its longest text and that entry's index.
enum HintColumn { kHintName, kHintSize, kHintType, kHintDate, kHintPacked, kHintFolder,
                  kHintComment, kHintCount };

class ArchiveHandler {
public:
    ArchiveHandler();
    virtual ~ArchiveHandler();
    ArchiveHandler(const ArchiveHandler&) = delete;
    ArchiveHandler& operator=(const ArchiveHandler&) = delete;

    // --- the operations every format offers (formats override the primitives) ---

    // Closes the stream and returns the handler to the empty state.
    virtual void Close();
    // Destroys one entry; with compact, later entries move down one place.
    virtual int RemoveEntry(int index, bool compact);
    // Opens an archive file and reads its directory. Re-opening the same unchanged path
    // returns 1 without reading again.
    virtual int Open(const std::string& path);
    // Format-specific: fills the entries from the open stream.
    virtual int ReadDirectory();
    virtual int Reload();
    // A new archive holding every file below `folder`.
    virtual int CreateFromFolder(const std::string& archive_path, const std::string& folder);
    // Starts a new, empty archive file at `path` (creating its folders).
    virtual int Create(const std::string& path);
    // Format-specific: queues one disk file to be stored by the next Save.
    virtual int AddFile(const std::string& disk_path, const std::string& base_folder,
                        const std::string& archive_folder);
    // Adds, freshens or updates a list of files, then saves.
    virtual int AddFiles(const AddRequest& request);
    virtual int DeleteEntry(int index, bool save_now);
    // Deletes several members, highest index first, then saves when asked.
    virtual int DeleteEntries(std::vector<int> indices, bool save_now);
    // Format-specific: the whole unpacked member, or none with `status` saying why
    // (UnpackStatus). The data's size and CRC-32 are checked against the directory.
    virtual MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status);
    // Format-specific, optional: writes the whole member into `fd` (an empty file open for
    // writing) with the checks of UnpackEntry, and returns the UnpackStatus. Extraction uses it
    // instead of UnpackEntry when UnpacksToFile answers true: a large member then never has to
    // be held in memory.
    virtual bool UnpacksToFile() const { return false; }
    virtual int UnpackEntryToFile(const ArchiveEntry& entry, int fd);
    // Writes one member below dest_folder (the work folder when empty); with write = false
    // removes what an earlier extraction wrote there.
    virtual int ExtractEntry(const ArchiveEntry& entry, const std::string& dest_folder,
                             bool use_folder_names, std::string* out_path, bool write);
    virtual int ExtractEntryAt(int index, const std::string& dest_folder, bool use_folder_names,
                               std::string* out_path, bool write);
    virtual int ExtractAll(const std::string& dest_folder, bool use_folder_names, bool write);
    // Extracts the files of a folder node and of all the folders below it.
    virtual int ExtractTree(const FolderNode* selection, const std::string& dest_folder);
    // Extracts into the work folder and opens the file with its associated program.
    virtual int ViewEntry(int index);
    virtual int DragTree(const FolderNode* selection);
    virtual int DragEntries(const std::vector<int>& indices);
    // New full name and/or comment (nullptr: clear an existing comment; "" counts as none).
    virtual int ModifyEntry(int index, const std::string& new_full_name,
                            const std::string* new_comment);
    // Writes pending changes; base: Reload.
    virtual int Save(const std::string& target_path, int64_t volume_size,
                     const std::vector<uint8_t>* prefix);
    virtual int SaveAs(const std::string& target_path, int64_t volume_size,
                       const std::vector<uint8_t>* prefix);
    virtual bool CanUpdate();
    virtual bool CanExtract();
    virtual bool CanEdit();
    virtual bool CanMakeSfx();
    virtual bool CanSpan();

    // --- helpers for formats and callers ---

    // Prepares `count` empty entries; false (message 10) when memory runs out.
    bool AllocateEntries(size_t count);
    // Fills one entry from a directory record; nullptr for a bad index.
    ArchiveEntry* SetEntry(size_t index, bool is_file, const std::string& full_name,
                           int64_t packed, int64_t unpacked, int64_t crc, uint32_t attributes,
                           bool encrypted, uint16_t dos_date, uint16_t dos_time,
                           const std::string& comment);
    void SetEntryTime(ArchiveEntry& entry, int year, int month, int day, int hour, int minute,
                      int second);
    void SetEntryTime(ArchiveEntry& entry, std::time_t t);
    int FindEntry(const std::string& full_name);
    int SetArchiveComment(const std::string& text);
    // The entry's thumbnail index, or -1 when it is no picture (or could not be examined yet);
    // examines a state-2 entry through the thumbnail hook first.
    int GetPictureInfo(int index, int* width, int* height, int* bits);
    // Reads a directory from bytes held in memory (the program's embedded archives).
    int OpenFromMemory(std::vector<uint8_t> bytes, const std::string& name);
    // Puts a rebuilt archive file in place of the current one, keeping a good archive on
    // disk at every moment, then re-opens it.
    int CommitRebuilt(const std::string& temp_path);
    bool RecordExtracted(const std::string& path);

    // Stores a member name, normalised ('\' separators, no doubled ones), with the fields that
    // follow from it: name part, folder, type and the setup flag.
    static void AssignName(ArchiveEntry& entry, const std::string& name);

    // Looks up the node of a folder path ('\' separated); with create, missing nodes are made.
    FolderNode* LookupFolder(const std::string& path, bool create);
    std::string FolderPathOf(const FolderNode* node) const;

    // The format's own record of a member (ZIP: its central record), kept once per handler;
    // empty when the entry has none or its record lies outside the store.
    std::span<const uint8_t> FormatHeader(const ArchiveEntry& entry) const;

    // --- state ---
    const std::string& ArchivePath() const { return path_; }
    const std::string& FormatName() const { return format_name_; }
    const std::string& LastMessage() const { return last_message_; }
    void SetLastMessage(const std::string& message) { last_message_ = message; }
    // Formats and stores a message by code, with up to four text arguments.
    void SetMessage(int code, const std::string& a = "", const std::string& b = "",
                    const std::string& c = "", const std::string& d = "");
    bool Modified() const { return modified_; }
    size_t EntryCount() const { return entries_.size(); }
    ArchiveEntry& Entry(size_t index) { return entries_[index]; }
    const ArchiveEntry& Entry(size_t index) const { return entries_[index]; }
    const std::vector<ArchiveEntry>& Entries() const { return entries_; }
    int FileCount() const { return file_count_; }
    bool HasEncrypted() const { return has_encrypted_; }
    int SetupCount() const { return setup_count_; }
    const std::string& FirstSetupEntry() const { return first_setup_; }
    int64_t TotalPacked() const { return total_packed_; }
    int64_t TotalUnpacked() const { return total_unpacked_; }
    const std::string& ArchiveComment() const { return archive_comment_; }
    const ArchiveInfo& Info() const { return info_; }
    std::time_t ArchiveTime() const { return archive_time_; }
    // The two private scratch folders, made on first use: the format opener constructs a
    // handler for every format it tries, and most never need a folder.
    const std::string& WorkFolder() const { return Scratch(work_folder_); }
    const std::string& DragFolder() const { return Scratch(drag_folder_); }
    const FolderNode& Root() const { return root_; }
    const std::vector<FolderListItem>& Folders() const { return folders_; }
    const std::vector<std::string>& ExtractedFiles() const { return extracted_; }
    int HintLength(HintColumn c) const { return hint_length_[c]; }
    int HintIndex(HintColumn c) const { return hint_index_[c]; }
    int ProgressStep() const { return progress_step_; }
    ProgressSink* Sink() const { return sink_; }
    void SetSink(ProgressSink* sink) { sink_ = sink ? sink : &SilentSink(); }
    void SetDiskPromptId(int id) { disk_prompt_id_ = id; }
    int DiskPromptId() const { return disk_prompt_id_; }

    // How extraction treats files already on disk (defaults from "Options\Extract\", read on
    // first use: the format opener constructs a handler for every format it tries).
    ExtractOptions& Extraction();
    // Options the caller has read already (the command line's, with its switches applied).
    void SetExtraction(const ExtractOptions& options) {
        extract_options_ = options;
        extract_options_read_ = true;
    }
    // Members extraction skipped (existing or newer files), as report lines.
    const std::vector<std::string>& SkippedReport() const { return skipped_; }
    void ClearSkippedReport() { skipped_.clear(); }

    // Picture examination is done by the picture library, which sits above the core: the hook
    // unpacks and decodes one entry, fills its picture fields and adds its thumbnail
    // (AddThumbnail). Its answer decides the entry's state: kPicture -> 1, kNotPicture -> 0,
    // kTryAgain (could not unpack, cancelled, out of memory) -> stays 2 for the next fill.
    enum class PictureAnswer { kNotPicture = 0, kPicture = 1, kTryAgain = 2 };
    using ThumbnailHook = PictureAnswer (*)(ArchiveHandler& handler, int index);
    static void SetThumbnailHook(ThumbnailHook hook);
    static ThumbnailHook CurrentThumbnailHook();
    // 1 when the entry is a picture (its thumbnail made now), else 0. Only file entries in
    // state 2 are examined; others answer from their state.
    int MakeThumbnail(int index);
    // The hook's answer itself (kNotPicture without a hook); the state is set from it.
    PictureAnswer ExaminePicture(int index);

    // The thumbnail list: one image per picture entry, made once per opening of the archive and
    // emptied by Close (a changed archive is re-read, so its pictures are decoded again).
    static constexpr int kThumbnailWidth = 80;
    static constexpr int kThumbnailHeight = 60;
    struct ThumbnailImage {
        int width = kThumbnailWidth;
        int height = kThumbnailHeight;
        // Top row first, 3 bytes per pixel in the order blue, green, red, no row padding.
        std::vector<uint8_t> pixels;
    };
    // Appends an image; its index in the list, or -1 when memory runs out or its size is wrong.
    int AddThumbnail(ThumbnailImage image);
    const std::vector<ThumbnailImage>& Thumbnails() const { return thumbnails_; }

protected:
    // Sets message 207 with the format name and returns 0.
    int Unsupported();
    // Fills the archive file's descriptive texts from the file on disk.
    void RecordFileInfo(const std::string& path);
    // Rebuilds the count, totals and ratio texts after a directory read.
    void RecordTotals();
    // Adds a line to the report of members extraction left out.
    void ReportSkipped(const std::string& line) { skipped_.push_back(line); }
    // Abort check every progress step: false (status 2, message 100 left) once the user stopped.
    bool StillGoing(int64_t position);
    // Copies a record into the store and points the entry at it; false when memory runs out.
    bool StoreFormatHeader(ArchiveEntry& entry, const uint8_t* data, size_t size);
    // Points the entry at bytes already in the store (ZIP keeps its central directory there).
    void ReferFormatHeader(ArchiveEntry& entry, size_t pos, size_t size);
    std::span<uint8_t> MutableFormatHeader(ArchiveEntry& entry);

    DataStream stream_;
    std::string path_;
    std::string format_name_;
    std::string archive_comment_;
    bool modified_ = false;
    bool multi_volume_ = false;
    std::vector<int64_t> volume_table_;
    int current_disk_ = 0;
    ProgressSink* sink_;
    std::vector<ArchiveEntry> entries_;
    // The records FormatHeader returns, back to back; emptied with the entries on Close.
    std::vector<uint8_t> header_store_;
    std::vector<ThumbnailImage> thumbnails_;

private:
    // RecordFileInfo in two steps: Open records the size, time and name before the format
    // reads the file, and makes the path, size, date and attribute texts only once the format
    // has recognised it (the opener tries every format on it).
    void RecordFileFacts(const std::string& path);
    void RecordFileTexts(const std::string& path);
    void ResetTree();
    static std::string ChildKey(const FolderNode* parent, std::string_view lower_name);
    void AddToTree(int index);
    void UpdateHints(int index);
    // Writes the block, or without one the member through UnpackEntryToFile, into a new file
    // that then replaces the target.
    int WriteExtractedFile(const ArchiveEntry& entry, const std::string& target, const MemoryBlock* block);

    std::vector<FolderListItem> folders_;
    // A folder's node by its parent and lower-case name (ChildKey): memory grows with the
    // names, not with the square of the depth.
    std::unordered_map<std::string, FolderNode*> folder_index_;
    std::string last_folder_key_;  // lower-case path of last_folder_
    std::vector<std::string> extracted_;
    FolderNode root_;
    FolderNode* last_folder_ = nullptr;
    int hint_length_[kHintCount] = {};
    int hint_index_[kHintCount] = {-1, -1, -1, -1, -1, -1, -1};
    std::string last_message_;
    ArchiveInfo info_;
    std::time_t archive_time_ = 0;
    bool has_archive_time_ = false;
    const std::string& Scratch(std::string& folder) const;
    mutable std::string scratch_base_;
    mutable bool scratch_base_read_ = false;
    mutable std::mutex scratch_lock_;
    mutable std::string work_folder_, drag_folder_;
    int file_count_ = 0;
    bool has_encrypted_ = false;
    int setup_count_ = 0;
    std::string first_setup_;
    int disk_prompt_id_ = 61570;
    int progress_step_ = 1;
    int64_t total_packed_ = -1, total_unpacked_ = -1;
    ExtractOptions extract_options_;
    bool extract_options_read_ = false;
    std::vector<std::string> skipped_;
    bool skip_all_existing_ = false;
    // Date texts shared by the entries, one per distinct time. Entries point into it, so it
    // only grows (a map's nodes never move) and lives as long as the handler.
    std::unordered_map<std::time_t, DateTexts> date_texts_;
    std::unordered_map<uint32_t, std::time_t> dos_time_cache_;
    std::vector<uint8_t> resource_bytes_;
};

}  // namespace quorbel
