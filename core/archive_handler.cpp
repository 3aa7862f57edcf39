#include "core/archive_handler.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <new>

#include <sys/stat.h>

#include "core/messages.h"
#include "core/progress_sink.h"
#include "core/text_format.h"
#include "core/type_cache.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/temp_folders.h"

namespace quorbel {

namespace {
std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string NormaliseName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '/') c = '\\';
        if (c == '\\' && !out.empty() && out.back() == '\\') continue;
        out += c;
    }
    return out;
}

// The saving in percent. A member can grow far beyond its size (stored data of a damaged or
// hostile record): the figure saturates instead of overflowing the int it is shown as.
int RatioOf(int64_t packed, int64_t unpacked) {
    constexpr long double kLowest = -999999;
    const long double ratio = (static_cast<long double>(unpacked) - packed) * 100 / unpacked;
    return int(std::clamp(ratio, kLowest, static_cast<long double>(100)));
}

// Sizes add up without overflow: a sum past the largest size stays there.
int64_t SaturatedAdd(int64_t total, int64_t size) {
    int64_t sum;
    return __builtin_add_overflow(total, size, &sum) ? INT64_MAX : sum;
}

ArchiveHandler::ThumbnailHook g_thumbnail_hook = nullptr;
}  // namespace

MemoryBlock MemoryBlock::Allocate(size_t size) {
    MemoryBlock block;
    block.data.reset(static_cast<uint8_t*>(std::malloc(size ? size : 1)));
    if (block.data) block.size = size;
    return block;
}

namespace {
const std::string& NoText() {
    static const std::string none;
    return none;
}
}  // namespace

const std::string& ArchiveEntry::TypeText() const {
    return type_index >= 0 ? TypeCache::Instance().At(type_index).name : NoText();
}

std::string ArchiveEntry::SizeText() const {
    if (!HasTexts()) return {};
    return unpacked == -1 ? "?" : ThousandsText(uint64_t(unpacked));
}

std::string ArchiveEntry::SizeShortText() const {
    if (!HasTexts()) return {};
    return unpacked == -1 ? "?" : quorbel::SizeShortText(unpacked);
}

std::string ArchiveEntry::PackedText() const {
    if (!HasTexts()) return {};
    return packed == -1 ? "?" : ThousandsText(uint64_t(packed));
}

std::string ArchiveEntry::PackedShortText() const {
    if (!HasTexts()) return {};
    return packed == -1 ? "?" : quorbel::SizeShortText(packed);
}

std::string ArchiveEntry::RatioText() const {
    if (!HasTexts()) return {};
    if (unpacked == -1 || packed == -1 || unpacked == 0) return "?";
    return FormatText("%d%%", ratio);
}

std::string ArchiveEntry::CrcText() const {
    if (!HasTexts()) return {};
    return crc == -1 ? "?" : FormatText("%X", unsigned(crc));
}

std::string ArchiveEntry::AttributeText() const {
    return HasTexts() ? AttributeLetters(attributes) : std::string();
}

const std::string& ArchiveEntry::DateText() const { return dates ? dates->short_text : NoText(); }
const std::string& ArchiveEntry::LongDateText() const { return dates ? dates->long_text : NoText(); }

AddRequest AddRequest::FromSettings() {
    AppRegistry reg;
    const char* key = "Options\\AddFiles";
    AddRequest r;
    r.action = int(reg.ReadInteger(key, "Action", 2));
    r.store_format83 = reg.ReadBool(key, "bStoreFormat83", false);
    r.include_sub_folders = reg.ReadBool(key, "bIncludeSubFolders", true);
    r.save_current_folder_name = reg.ReadBool(key, "bSaveCurrentFolderName", false);
    r.include_only_non_archived = reg.ReadBool(key, "bIncludeOnlyNonArchivedFiles", false);
    r.reset_archive_attribute = reg.ReadBool(key, "bResetArchiveAttribute", false);
    r.include_system_files = reg.ReadBool(key, "bIncludeSystemFiles", true);
    return r;
}

ArchiveHandler::ArchiveHandler() : sink_(&SilentSink()) {}

const std::string& ArchiveHandler::Scratch(std::string& folder) const {
    std::lock_guard<std::mutex> hold(scratch_lock_);
    if (!scratch_base_read_) {
        scratch_base_ = LoadHandlerOptions().temporary_directory;
        scratch_base_read_ = true;
    }
    if (folder.empty()) folder = CreateScratchFolder(scratch_base_);
    return folder;
}

ExtractOptions& ArchiveHandler::Extraction() {
    if (!extract_options_read_) {
        extract_options_ = LoadExtractOptions();
        extract_options_read_ = true;
    }
    return extract_options_;
}

ArchiveHandler::~ArchiveHandler() {
    ArchiveHandler::Close();
    if (!work_folder_.empty()) RemoveTree(work_folder_);
    if (!drag_folder_.empty()) RemoveTree(drag_folder_);
}

void ArchiveHandler::SetMessage(int code, const std::string& a, const std::string& b,
                                const std::string& c, const std::string& d) {
    last_message_ = FormatText(MessageTemplate(code).c_str(), a.c_str(), b.c_str(), c.c_str(), d.c_str());
}

int ArchiveHandler::Unsupported() {
    SetMessage(kMsgUnsupportedOperation, format_name_);
    return kStatusFailed;
}

bool ArchiveHandler::StillGoing(int64_t position) {
    if (position % progress_step_ != 0) return true;
    if (sink_->SetPos(position) != 0) return true;
    SetMessage(kMsgAborted);
    return false;
}

void ArchiveHandler::ResetTree() {
    root_.children.clear();
    root_.files.clear();
    folders_.clear();
    folder_index_.clear();
    last_folder_ = nullptr;
    last_folder_key_.clear();
}

void ArchiveHandler::Close() {
    stream_.Close();
    entries_.clear();
    entries_.shrink_to_fit();
    header_store_.clear();
    header_store_.shrink_to_fit();
    thumbnails_.clear();
    thumbnails_.shrink_to_fit();
    info_ = ArchiveInfo();
    ResetTree();
    extracted_.clear();
    volume_table_.clear();
    multi_volume_ = false;
    current_disk_ = 0;
    total_packed_ = total_unpacked_ = -1;
    for (int i = 0; i < kHintCount; ++i) {
        hint_length_[i] = 0;
        hint_index_[i] = -1;
    }
    file_count_ = 0;
    setup_count_ = 0;
    first_setup_.clear();
    has_encrypted_ = false;
    modified_ = false;
    archive_comment_.clear();
    has_archive_time_ = false;
    archive_time_ = 0;
    dos_time_cache_.clear();
}

int ArchiveHandler::RemoveEntry(int index, bool compact) {
    if (index < 0 || size_t(index) >= entries_.size()) {
        SetMessage(kMsgOverflow);
        return kStatusFailed;
    }
    ArchiveEntry& e = entries_[size_t(index)];
    if (e.allocated && e.is_file) --file_count_;
    if (compact) {
        entries_.erase(entries_.begin() + index);
        // Entry indices in the tree after `index` move down by one.
        auto fix = [index](std::vector<int>& files) {
            files.erase(std::remove(files.begin(), files.end(), index), files.end());
            for (int& f : files)
                if (f > index) --f;
        };
        fix(root_.files);
        for (auto& item : folders_) fix(item.node->files);
    } else {
        e = ArchiveEntry();
    }
    return kStatusOk;
}

void ArchiveHandler::RecordFileInfo(const std::string& path) {
    RecordFileFacts(path);
    RecordFileTexts(path);
}

void ArchiveHandler::RecordFileFacts(const std::string& path) {
    info_ = ArchiveInfo();
    const size_t slash = path.find_last_of('/');
    info_.file_name = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat st{};
    // The archive's own stream knows its file (the opener's tries share one status).
    const bool known = stream_.IsReading() && stream_.Name() == path && stream_.FileStatus(st);
    if (known || stat(path.c_str(), &st) == 0) {
        info_.file_size = int64_t(st.st_size);
        archive_time_ = st.st_mtime;
        has_archive_time_ = true;
    }
}

void ArchiveHandler::RecordFileTexts(const std::string& path) {
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
    size_t slash = absolute.find_last_of('/');
    info_.file_name = slash == std::string::npos ? absolute : absolute.substr(slash + 1);
    info_.folder = slash == std::string::npos ? std::string() : absolute.substr(0, slash);
    info_.short_path = absolute;  // no 8.3 names on Linux: the short path is the path itself
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return;
    info_.size_text = SizeShortText(info_.file_size);
    // Linux keeps no creation time that stat reports; the status-change time stands in.
    info_.created = LongDateText(st.st_ctime);
    info_.modified = LongDateText(st.st_mtime);
    info_.accessed = LongDateText(st.st_atime);
    info_.attributes = AttributeLetters(GetDosAttributes(path));
}

void ArchiveHandler::RecordTotals() {
    info_.file_count = std::to_string(file_count_);
    info_.total_packed = total_packed_ == -1 ? "?" : SizeShortText(total_packed_);
    info_.total_unpacked = total_unpacked_ == -1 ? "?" : SizeShortText(total_unpacked_);
    // One expression: g++ 12 warns (falsely) of overlap on a literal assigned in a branch.
    info_.ratio = total_packed_ != -1 && total_unpacked_ != -1 && total_unpacked_ != 0
                      ? FormatText("%d%%", RatioOf(total_packed_, total_unpacked_))
                      : std::string("?");
}

int ArchiveHandler::Open(const std::string& path_in) {
    const std::string path = path_in;  // may alias path_, which Close clears
    if (path == path_ && stream_.IsOpen() && has_archive_time_) {
        std::time_t t = FileTime(path);
        if (t != -1 && t <= archive_time_) return kStatusOk;
    }
    Close();
    path_ = path;
    if (!stream_.OpenFile(path, true)) {
        SetMessage(kMsgCannotOpen, path);
        return kStatusCannotOpen;
    }
    RecordFileFacts(path);
    sink_->Begin();
    sink_->SetText(MessageTemplate(kMsgReadingDirectory));
    int status = ReadDirectory();
    sink_->End(0);
    // Texts only for a file the format recognised: the opener tries every format on it.
    if (status != kStatusNotThisFormat && status != kStatusFailed) {
        RecordFileTexts(path);
        RecordTotals();
    }
    return status;
}

int ArchiveHandler::OpenFromMemory(std::vector<uint8_t> bytes, const std::string& name) {
    Close();
    resource_bytes_ = std::move(bytes);
    stream_.AttachMemory(resource_bytes_.data(), resource_bytes_.size());
    stream_.SetName(name);
    path_ = name;
    int status = ReadDirectory();
    RecordTotals();
    return status;
}

int ArchiveHandler::ReadDirectory() { return Unsupported(); }
int ArchiveHandler::Reload() { return Open(path_); }
int ArchiveHandler::AddFile(const std::string&, const std::string&, const std::string&) {
    return Unsupported();
}
MemoryBlock ArchiveHandler::UnpackEntry(const ArchiveEntry&, int& status) {
    status = kStatusFailed;
    Unsupported();
    return {};
}
int ArchiveHandler::UnpackEntryToFile(const ArchiveEntry& entry, int fd) {
    int status = kStatusFailed;
    MemoryBlock block = UnpackEntry(entry, status);
    if (status != kUnpackOk) return status;
    if (!block) return kStatusFailed;
    // The caller, who knows the file's name, says what could not be written.
    return WriteAll(fd, block.data.get(), block.size) ? int(kUnpackOk) : int(kStatusCannotCreate);
}
int ArchiveHandler::Save(const std::string&, int64_t, const std::vector<uint8_t>*) {
    return Reload();
}
int ArchiveHandler::SaveAs(const std::string&, int64_t, const std::vector<uint8_t>*) {
    return Unsupported();
}
bool ArchiveHandler::CanUpdate() { return Unsupported() != 0; }
bool ArchiveHandler::CanExtract() { return false; }
bool ArchiveHandler::CanEdit() { return false; }
bool ArchiveHandler::CanMakeSfx() { return false; }
bool ArchiveHandler::CanSpan() { return false; }

bool ArchiveHandler::AllocateEntries(size_t count) {
    SetMessage(kMsgOutOfMemory);
    try {
        entries_.clear();
        entries_.resize(count);
    } catch (const std::bad_alloc&) {
        entries_.clear();
        return false;
    } catch (const std::length_error&) {
        entries_.clear();
        return false;
    }
    progress_step_ = int(quorbel::ProgressStep(uint64_t(count)));
    return true;
}

void ArchiveHandler::SetEntryTime(ArchiveEntry& entry, std::time_t t) {
    entry.time = t;
    // Members of one archive share few distinct times; each time's texts are made once.
    auto it = date_texts_.find(t);
    if (it == date_texts_.end())
        it = date_texts_.emplace(t, DateTexts{ShortDateText(t), LongDateText(t)}).first;
    entry.dates = &it->second;
}

void ArchiveHandler::SetEntryTime(ArchiveEntry& entry, int year, int month, int day, int hour,
                                  int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    bool valid = month >= 0 && month <= 11 && day >= 1 && day <= 31 && hour <= 23 &&
                 minute <= 59 && second <= 59;
    std::time_t t = valid ? std::mktime(&tm) : std::time_t(-1);
    SetEntryTime(entry, t == std::time_t(-1) ? archive_time_ : t);
}

void ArchiveHandler::AssignName(ArchiveEntry& e, const std::string& name) {
    e.full_name = NormaliseName(name);
    // The name part follows the last separator, not counting a folder's trailing one.
    size_t end = e.full_name.size();
    if (end > 0 && e.full_name[end - 1] == '\\') --end;
    size_t slash = end == 0 ? std::string::npos : e.full_name.rfind('\\', end - 1);
    e.name_offset = slash == std::string::npos ? 0 : uint32_t(slash + 1);
    std::string name_part(e.NamePart());
    e.type_index = TypeCache::Instance().Lookup(name_part);
    e.is_setup = EqualsNoCase(name_part, "SETUP.EXE") || EqualsNoCase(name_part, "INSTALL.EXE");
}

ArchiveEntry* ArchiveHandler::SetEntry(size_t index, bool is_file, const std::string& full_name,
                                       int64_t packed, int64_t unpacked, int64_t crc,
                                       uint32_t attributes, bool encrypted, uint16_t dos_date,
                                       uint16_t dos_time, const std::string& comment) {
    if (index >= entries_.size()) return nullptr;
    // A name no file system could hold is damage or an attack on the folder tree, not a member.
    if (full_name.size() > kMaxMemberNameLength ||
        size_t(std::count_if(full_name.begin(), full_name.end(),
                             [](char c) { return c == '/' || c == '\\'; })) > kMaxMemberDepth) {
        SetMessage(kMsgCorrupt, path_);
        return nullptr;
    }
    ArchiveEntry& e = entries_[index];
    e = ArchiveEntry();
    e.allocated = true;
    e.is_file = is_file;
    if (is_file) ++file_count_;
    e.comment = comment;
    AssignName(e, full_name);
    if (!is_file) return &e;

    if (e.is_setup && setup_count_++ == 0) first_setup_ = e.full_name;
    e.unpacked = unpacked;
    e.packed = packed;
    if (!has_archive_time_) {
        archive_time_ = std::time(nullptr);
        has_archive_time_ = true;
    }
    if (dos_date == 0 && dos_time == 0)
        SetEntryTime(e, archive_time_);
    else {
        // The calendar conversion consults the time zone on every call; members share few
        // distinct stamps, so each is converted once.
        uint32_t key = (uint32_t(dos_date) << 16) | dos_time;
        auto hit = dos_time_cache_.find(key);
        if (hit != dos_time_cache_.end()) {
            SetEntryTime(e, hit->second);
        } else {
            SetEntryTime(e, 1980 + (dos_date >> 9), ((dos_date >> 5) & 0x0F) - 1, dos_date & 0x1F,
                         dos_time >> 11, (dos_time >> 5) & 0x3F, (dos_time & 0x1F) * 2);
            if (dos_time_cache_.size() > 65536) dos_time_cache_.clear();
            dos_time_cache_.emplace(key, e.time);
        }
    }
    e.crc = crc;
    e.ratio = unpacked == -1 || packed == -1 || unpacked == 0 ? 0 : RatioOf(packed, unpacked);
    e.encrypted = encrypted;
    if (encrypted) has_encrypted_ = true;
    e.attributes = attributes;

    AddToTree(int(index));
    if (unpacked != -1) total_unpacked_ = total_unpacked_ == -1 ? unpacked : SaturatedAdd(total_unpacked_, unpacked);
    if (packed != -1) total_packed_ = total_packed_ == -1 ? packed : SaturatedAdd(total_packed_, packed);
    UpdateHints(int(index));
    return &e;
}

void ArchiveHandler::UpdateHints(int index) {
    const ArchiveEntry& e = entries_[size_t(index)];
    const size_t lengths[kHintCount] = {e.NamePart().size(), e.SizeText().size(),
                                        e.TypeText().size(), e.DateText().size(),
                                        e.PackedText().size(), e.Folder().size(), e.comment.size()};
    for (int c = 0; c < kHintCount; ++c) {
        if (int(lengths[c]) > hint_length_[c]) {
            hint_length_[c] = int(lengths[c]);
            hint_index_[c] = index;
        }
    }
}

std::string ArchiveHandler::FolderPathOf(const FolderNode* node) const {
    if (!node || node->list_index < 0) return "";
    // Paths are made when asked for, from the names up the tree: keeping each folder's full
    // path would cost the square of the depth.
    size_t length = 0;
    for (const FolderNode* n = node; n && n != &root_; n = n->parent) length += n->name.size() + 1;
    std::string path(length - 1, '\\');
    size_t end = path.size();
    for (const FolderNode* n = node; n && n != &root_; n = n->parent) {
        end -= n->name.size();
        path.replace(end, n->name.size(), n->name);
        if (end > 0) --end;
    }
    return path;
}

std::string ArchiveHandler::ChildKey(const FolderNode* parent, std::string_view lower_name) {
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    key.append(lower_name);
    return key;
}

FolderNode* ArchiveHandler::LookupFolder(const std::string& path_in, bool create) {
    std::string path = path_in;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.empty()) return &root_;
    const std::string key = Lower(path);
    // Members come folder by folder: the last folder found is the likeliest next one.
    if (last_folder_ && key == last_folder_key_) return last_folder_;
    // Walk down from the root one name at a time, creating what is missing when allowed.
    FolderNode* node = &root_;
    size_t start = 0;
    while (start < path.size()) {
        size_t sep = path.find('\\', start);
        if (sep == std::string::npos) sep = path.size();
        if (sep > start) {
            std::string child_key = ChildKey(node, std::string_view(key).substr(start, sep - start));
            auto found = folder_index_.find(child_key);
            if (found != folder_index_.end()) {
                node = found->second;
            } else {
                if (!create) return node;
                auto child = std::make_unique<FolderNode>();
                child->parent = node;
                child->name = path.substr(start, sep - start);
                child->list_index = int(folders_.size());
                FolderNode* raw = child.get();
                folders_.push_back({raw});
                folder_index_.emplace(std::move(child_key), raw);
                node->children.push_back(std::move(child));
                node = raw;
            }
        }
        start = sep + 1;
    }
    last_folder_ = node;
    last_folder_key_ = key;
    return node;
}

void ArchiveHandler::AddToTree(int index) {
    FolderNode* node = LookupFolder(std::string(entries_[size_t(index)].Folder()), true);
    node->files.push_back(index);
}

std::span<const uint8_t> ArchiveHandler::FormatHeader(const ArchiveEntry& entry) const {
    if (entry.record_size == 0 || entry.record_pos > header_store_.size() ||
        entry.record_size > header_store_.size() - entry.record_pos)
        return {};
    return {header_store_.data() + entry.record_pos, entry.record_size};
}

std::span<uint8_t> ArchiveHandler::MutableFormatHeader(ArchiveEntry& entry) {
    std::span<const uint8_t> bytes = FormatHeader(entry);
    return {header_store_.data() + (bytes.data() - header_store_.data()), bytes.size()};
}

bool ArchiveHandler::StoreFormatHeader(ArchiveEntry& entry, const uint8_t* data, size_t size) {
    const size_t pos = header_store_.size();
    try {
        header_store_.insert(header_store_.end(), data, data + size);
    } catch (const std::bad_alloc&) {
        SetMessage(kMsgOutOfMemory);
        return false;
    }
    ReferFormatHeader(entry, pos, size);
    return true;
}

void ArchiveHandler::ReferFormatHeader(ArchiveEntry& entry, size_t pos, size_t size) {
    entry.record_pos = pos;
    entry.record_size = uint32_t(size);
}

int ArchiveHandler::FindEntry(const std::string& full_name) {
    std::string name = NormaliseName(full_name);
    size_t slash = name.rfind('\\');
    std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash);
    FolderNode* node = LookupFolder(folder, false);
    for (int index : node->files)
        if (EqualsNoCase(entries_[size_t(index)].full_name, name)) return index;
    return -1;
}

int ArchiveHandler::SetArchiveComment(const std::string& text) {
    if (text == archive_comment_) return kStatusOk;
    archive_comment_ = text;
    modified_ = true;
    return Save("", 0, nullptr);
}

void ArchiveHandler::SetThumbnailHook(ThumbnailHook hook) { g_thumbnail_hook = hook; }

ArchiveHandler::ThumbnailHook ArchiveHandler::CurrentThumbnailHook() { return g_thumbnail_hook; }

ArchiveHandler::PictureAnswer ArchiveHandler::ExaminePicture(int index) {
    if (index < 0 || size_t(index) >= entries_.size()) return PictureAnswer::kNotPicture;
    ArchiveEntry& e = entries_[size_t(index)];
    if (!e.allocated || !e.is_file) return PictureAnswer::kNotPicture;
    if (e.picture_state == 1) return PictureAnswer::kPicture;
    if (e.picture_state == 0) return PictureAnswer::kNotPicture;
    PictureAnswer answer = g_thumbnail_hook ? g_thumbnail_hook(*this, index) : PictureAnswer::kNotPicture;
    // The hook may not have left the entry where it was (a re-read archive): look it up again.
    if (size_t(index) >= entries_.size()) return PictureAnswer::kTryAgain;
    ArchiveEntry& after = entries_[size_t(index)];
    if (answer == PictureAnswer::kPicture && after.thumbnail_index < 0) answer = PictureAnswer::kTryAgain;
    if (answer == PictureAnswer::kPicture) after.picture_state = 1;
    else if (answer == PictureAnswer::kNotPicture) after.picture_state = 0;
    return answer;
}

int ArchiveHandler::MakeThumbnail(int index) {
    return ExaminePicture(index) == PictureAnswer::kPicture ? 1 : 0;
}

int ArchiveHandler::AddThumbnail(ThumbnailImage image) {
    if (image.width < 1 || image.height < 1 ||
        image.pixels.size() != size_t(image.width) * size_t(image.height) * 3)
        return -1;
    try {
        // The list is made on first use with room for 100 images and grows by 32.
        if (thumbnails_.capacity() == 0) thumbnails_.reserve(100);
        else if (thumbnails_.size() == thumbnails_.capacity()) thumbnails_.reserve(thumbnails_.size() + 32);
        thumbnails_.push_back(std::move(image));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return int(thumbnails_.size() - 1);
}

int ArchiveHandler::GetPictureInfo(int index, int* width, int* height, int* bits) {
    if (index < 0 || size_t(index) >= entries_.size()) return -1;
    if (ExaminePicture(index) != PictureAnswer::kPicture) return -1;
    ArchiveEntry& e = entries_[size_t(index)];
    if (width) *width = e.picture_width;
    if (height) *height = e.picture_height;
    if (bits) *bits = e.picture_bits;
    return e.thumbnail_index;
}

bool ArchiveHandler::RecordExtracted(const std::string& path) {
    SetMessage(kMsgOutOfMemory);
    try {
        extracted_.push_back(path);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace quorbel
