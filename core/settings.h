// Program-wide options the archive handlers read from the settings store, and the one password
// of the run.
#pragma once

#include <string>

namespace quorbel {

// Key "Options" below the program key; one copy shared by every handler.
struct HandlerOptions {
    std::string temporary_directory;  // "TemporaryDirectory"; empty: the system's
    bool rename_old_file = true;      // "bRenameOldFile"
    bool move_deleted_to_bin = true;  // "bMoveDeletedFilesToBin"
};

// Re-reads the shared copy from the settings store and returns it.
const HandlerOptions& LoadHandlerOptions();
const HandlerOptions& CurrentHandlerOptions();
// Writes the options back (used by the options pages) and updates the shared copy.
void StoreHandlerOptions(const HandlerOptions& options);

// The extract options of "Options\Extract\" that the handler's extraction applies.
struct ExtractOptions {
    bool overwrite = true;        // "bOverwrite"
    bool skip_older = true;       // "bSkipOlderFiles": keep a disk file newer than the member
    bool use_folder_names = true; // "bUseFolderNames"
    bool open_output_folder = true;  // "bOpenOutputFolder"
    std::string path;             // "Path"
};
ExtractOptions LoadExtractOptions();

// The program-wide password: one optional text for the whole run, used by every encrypted
// member, read and write. Empty = none.
const std::string& ProgramPassword();
void SetProgramPassword(const std::string& password);
bool HasProgramPassword();

}  // namespace quorbel
