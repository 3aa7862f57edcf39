// The window-free side of the extract, add and password choices: the stored options, the
// destination history of the extract dialog, and the building of an add request from what the
// add dialog chose.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/archive_handler.h"
#include "core/progress_sink.h"
#include "core/settings.h"

namespace quorbel {

inline constexpr const char* kAddOptionsKey = "Options\\AddFiles";
inline constexpr const char* kExtractOptionsKey = "Options\\Extract";
inline constexpr const char* kPasswordOptionsKey = "Options\\Password";
// History keys of the extract dialog and of the same dialog used to choose a folder.
inline constexpr const char* kExtractHistoryKey = "ExtractToFolder";
inline constexpr const char* kSelectFolderHistoryKey = "SelectFolder";
inline constexpr int kDestinationHistorySize = 10;

// A fresh request holding the stored add options (paths, folders and password empty).
AddRequest LoadAddRequest();
// Writes the action and the six booleans of the request to "Options\AddFiles\".
void StoreAddOptions(const AddRequest& request);

// Writes the four booleans and "Path" to "Options\Extract\".
void StoreExtractOptions(const ExtractOptions& options);

// "Options\Password\" "bMaskPassword" (default on).
bool LoadMaskPassword();
void StoreMaskPassword(bool mask);

// The values "File0".."File9" of a history key, in order, missing ones as "".
std::vector<std::string> LoadDestinationHistory(const std::string& key);
// Values 0..8 move to 1..9 and `destination` becomes value 0; equal entries stay.
void PushDestinationHistory(const std::string& key, const std::string& destination);
// The entries a history combo box lists: non-empty values in order, each left out when an
// earlier entry already begins with it (letter case ignored), as the box's own search finds it.
std::vector<std::string> HistoryComboEntries(const std::vector<std::string>& values);

// A relative path completed from the current directory (normalised, no trailing '/').
std::string MakeAbsolute(const std::string& path);

// File-name pattern of the add dialog: '*' and '?' wildcards, letter case ignored; a pattern
// ending in ".*" also matches names without an extension ("*.*" matches every name).
bool MatchesFilePattern(const std::string& name, const std::string& pattern);

// Files below `folder` whose names match `pattern`, sorted, with those of the sub-folders
// (followed by name, not through links) when `include_sub_folders`. Each folder searched shows
// "Searching files in folder "%s"..." on the sink; nullopt when the user stopped.
std::optional<std::vector<std::string>> ExpandFolder(const std::string& folder,
                                                     const std::string& pattern,
                                                     bool include_sub_folders, ProgressSink& sink);

// The folder stored names are relative to: the folder the files were chosen in, or its parent
// when the stored paths must begin with that folder's own name.
std::string AddBaseFolder(const std::string& chosen_folder, bool save_current_folder_name);

// What the add dialog chose: names in a folder, or (folder mode) a pattern in that folder.
struct AddChoice {
    std::string folder;
    std::vector<std::string> names;
    bool folder_mode = false;
    std::string pattern;  // folder mode; empty means "*.*"
};

// Completes the request from the choice: the source list, the base folder and the password.
// The folder is remembered as "Folders\" "AddPath". False when the folder search was stopped.
bool CompleteAddRequest(AddRequest& request, const AddChoice& choice,
                        const std::string& password, ProgressSink& sink);

}  // namespace quorbel
