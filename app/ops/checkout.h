// Checking an archive out: every member unpacked into a folder and one menu entry per file in
// a group of the desktop's applications menu, so the contents can be tried as if installed.
// The record of what the check-out wrote and made is what the clean-up removes, and nothing
// else: the output folder may hold the user's own files.
#pragma once

#include <string>
#include <vector>

namespace quorbel {

class ArchiveHandler;
class Launcher;

struct CheckOutRecord {
    std::string archive;
    std::string output_folder;
    std::string group_folder;   // <data>/applications/dorvex-quorbel-checkout/<group>
    std::string group_parent;   // <data>/applications/dorvex-quorbel-checkout
    std::vector<std::string> files;    // files the extraction wrote
    std::vector<std::string> folders;  // folders it made, parents before children
    std::vector<std::string> entries;  // desktop entries, the .directory and .menu files

    bool Empty() const { return output_folder.empty(); }
    std::string GroupName() const;

    // The command line has no document to keep the record in: it goes into the settings,
    // under the archive's path.
    bool Store() const;
    static CheckOutRecord Load(const std::string& archive);
    static void Forget(const std::string& archive);
};

// A group name is one path component: not empty, not "." or "..", no '/'.
bool ValidGroupName(const std::string& name);
std::string CheckOutGroupParent();
// The dialog's presets: the archive path less its extension, and its file name less it.
std::string DefaultCheckOutFolder(const std::string& archive);
std::string DefaultGroupName(const std::string& archive);

struct CheckOutResult {
    int status = 0;        // the extraction's status (kStatusOk when it all went well)
    std::string message;   // the handler's message, or why nothing was done
    CheckOutRecord record; // kept also after a failed extraction, so it can be cleaned up
};

// Unpacks every member into `output_folder` and makes the group of entries. `launcher`, when
// given, opens the group folder afterwards.
CheckOutResult CheckOut(ArchiveHandler& handler, const std::string& output_folder,
                        const std::string& group_name, Launcher* launcher = nullptr);

// The desktop entry of one checked-out file: opens the file (runs it when it is executable).
std::string CheckOutEntryText(const std::string& file);

// Removes what the record lists: its entries, the group folder when empty, the group parent
// when empty, the files, then the folders it made when empty. Returns what could not be removed.
std::vector<std::string> CleanUpCheckOut(const CheckOutRecord& record);

}  // namespace quorbel
