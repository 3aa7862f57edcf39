#include "app/ops/add_request.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "core/messages.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace fs = std::filesystem;

namespace {

// Message code of "Searching files in folder "%s"...".
constexpr int kMsgSearchingFolder = 500;

std::string HistoryValueName(int i) { return "File" + std::to_string(i); }

char Lower(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

// Classic wildcard matching with backtracking over the last '*'.
bool WildcardMatch(const std::string& name, const std::string& pattern) {
    size_t n = 0, p = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<fs::directory_entry> SortedEntries(const std::string& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    return entries;
}

bool Search(const std::string& folder, const std::string& pattern, bool recurse,
            ProgressSink& sink, std::vector<std::string>& found) {
    sink.SetText(FormatText(MessageTemplate(kMsgSearchingFolder).c_str(), folder.c_str()));
    if (sink.SetPos(int64_t(found.size())) == 0) return false;
    std::vector<std::string> sub_folders;
    for (const fs::directory_entry& entry : SortedEntries(folder)) {
        std::error_code ec;
        const std::string path = entry.path().string();
        if (entry.is_symlink(ec)) {
            // A link to a folder is not followed (it may lead back up); a link to a file is
            // added like the file.
            if (entry.is_regular_file(ec) && MatchesFilePattern(entry.path().filename(), pattern))
                found.push_back(path);
        } else if (entry.is_directory(ec)) {
            if (recurse) sub_folders.push_back(path);
        } else if (entry.is_regular_file(ec)) {
            if (MatchesFilePattern(entry.path().filename(), pattern)) found.push_back(path);
        }
    }
    for (const std::string& sub : sub_folders)
        if (!Search(sub, pattern, recurse, sink, found)) return false;
    return true;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

AddRequest LoadAddRequest() { return AddRequest::FromSettings(); }

void StoreAddOptions(const AddRequest& request) {
    AppRegistry reg;
    reg.WriteInteger(kAddOptionsKey, "Action", request.action);
    reg.WriteBool(kAddOptionsKey, "bStoreFormat83", request.store_format83);
    reg.WriteBool(kAddOptionsKey, "bIncludeSubFolders", request.include_sub_folders);
    reg.WriteBool(kAddOptionsKey, "bSaveCurrentFolderName", request.save_current_folder_name);
    reg.WriteBool(kAddOptionsKey, "bIncludeOnlyNonArchivedFiles", request.include_only_non_archived);
    reg.WriteBool(kAddOptionsKey, "bResetArchiveAttribute", request.reset_archive_attribute);
    reg.WriteBool(kAddOptionsKey, "bIncludeSystemFiles", request.include_system_files);
}

void StoreExtractOptions(const ExtractOptions& options) {
    AppRegistry reg;
    reg.WriteText(kExtractOptionsKey, "Path", options.path);
    reg.WriteBool(kExtractOptionsKey, "bOverwrite", options.overwrite);
    reg.WriteBool(kExtractOptionsKey, "bSkipOlderFiles", options.skip_older);
    reg.WriteBool(kExtractOptionsKey, "bUseFolderNames", options.use_folder_names);
    reg.WriteBool(kExtractOptionsKey, "bOpenOutputFolder", options.open_output_folder);
}

bool LoadMaskPassword() { return AppRegistry().ReadBool(kPasswordOptionsKey, "bMaskPassword", true); }

void StoreMaskPassword(bool mask) { AppRegistry().WriteBool(kPasswordOptionsKey, "bMaskPassword", mask); }

std::vector<std::string> LoadDestinationHistory(const std::string& key) {
    AppRegistry reg;
    std::vector<std::string> values;
    for (int i = 0; i < kDestinationHistorySize; ++i)
        values.push_back(reg.ReadText(key, HistoryValueName(i)));
    return values;
}

void PushDestinationHistory(const std::string& key, const std::string& destination) {
    std::vector<std::string> values = LoadDestinationHistory(key);
    AppRegistry reg;
    for (int i = kDestinationHistorySize - 1; i > 0; --i)
        reg.WriteText(key, HistoryValueName(i), values[size_t(i - 1)]);
    reg.WriteText(key, HistoryValueName(0), destination);
}

std::vector<std::string> HistoryComboEntries(const std::vector<std::string>& values) {
    std::vector<std::string> entries;
    for (const std::string& v : values) {
        if (v.empty()) continue;
        bool listed = std::any_of(entries.begin(), entries.end(),
                                  [&](const std::string& e) { return StartsWithNoCase(e, v); });
        if (!listed) entries.push_back(v);
    }
    return entries;
}

std::string MakeAbsolute(const std::string& path) {
    std::error_code ec;
    fs::path p = path.empty() ? fs::current_path(ec) : fs::absolute(path, ec);
    if (ec) p = path;
    return WithoutTrailingSlash(p.lexically_normal().string());
}

bool MatchesFilePattern(const std::string& name, const std::string& pattern) {
    if (pattern.empty() || pattern == "*.*" || pattern == "*") return true;
    if (WildcardMatch(name, pattern)) return true;
    // "name.*" also stands for "name" alone, as the file dialogs have always taken it.
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos)
        return WildcardMatch(name, pattern.substr(0, pattern.size() - 2));
    return false;
}

std::optional<std::vector<std::string>> ExpandFolder(const std::string& folder,
                                                     const std::string& pattern,
                                                     bool include_sub_folders, ProgressSink& sink) {
    ProgressScope scope(&sink);
    std::vector<std::string> found;
    const std::string effective = pattern.empty() ? "*.*" : pattern;
    if (!Search(WithoutTrailingSlash(folder), effective, include_sub_folders, sink, found))
        return std::nullopt;
    return found;
}

std::string AddBaseFolder(const std::string& chosen_folder, bool save_current_folder_name) {
    std::string folder = WithoutTrailingSlash(chosen_folder);
    if (!save_current_folder_name) return folder;
    return WithoutTrailingSlash(fs::path(folder).parent_path().string());
}

bool CompleteAddRequest(AddRequest& request, const AddChoice& choice,
                        const std::string& password, ProgressSink& sink) {
    const std::string folder = WithoutTrailingSlash(MakeAbsolute(choice.folder));
    if (choice.folder_mode) {
        std::optional<std::vector<std::string>> files =
            ExpandFolder(folder, choice.pattern, request.include_sub_folders, sink);
        if (!files) return false;
        request.paths = std::move(*files);
    } else {
        request.paths.clear();
        for (const std::string& name : choice.names)
            request.paths.push_back(name.size() && name[0] == '/' ? name : folder + "/" + name);
    }
    AppRegistry().WriteText("Folders", "AddPath", folder);
    request.base_folder = AddBaseFolder(folder, request.save_current_folder_name);
    request.password = password;
    return true;
}

}  // namespace quorbel
