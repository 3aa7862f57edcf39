#include "core/settings.h"

#include "platform/registry_access.h"

namespace quorbel {

namespace {
HandlerOptions g_options;
bool g_loaded = false;
std::string g_password;
}  // namespace

const HandlerOptions& LoadHandlerOptions() {
    AppRegistry reg(RegistryAccess::Reading::Once);
    g_options.temporary_directory = reg.ReadText("Options", "TemporaryDirectory", "");
    g_options.rename_old_file = reg.ReadBool("Options", "bRenameOldFile", true);
    g_options.move_deleted_to_bin = reg.ReadBool("Options", "bMoveDeletedFilesToBin", true);
    g_loaded = true;
    return g_options;
}

const HandlerOptions& CurrentHandlerOptions() {
    if (!g_loaded) LoadHandlerOptions();
    return g_options;
}

void StoreHandlerOptions(const HandlerOptions& options) {
    AppRegistry reg;
    reg.WriteText("Options", "TemporaryDirectory", options.temporary_directory);
    reg.WriteBool("Options", "bRenameOldFile", options.rename_old_file);
    reg.WriteBool("Options", "bMoveDeletedFilesToBin", options.move_deleted_to_bin);
    g_options = options;
    g_loaded = true;
}

ExtractOptions LoadExtractOptions() {
    AppRegistry reg(RegistryAccess::Reading::Once);
    ExtractOptions o;
    o.path = reg.ReadText("Options\\Extract", "Path", "");
    o.overwrite = reg.ReadBool("Options\\Extract", "bOverwrite", true);
    o.skip_older = reg.ReadBool("Options\\Extract", "bSkipOlderFiles", true);
    o.use_folder_names = reg.ReadBool("Options\\Extract", "bUseFolderNames", true);
    o.open_output_folder = reg.ReadBool("Options\\Extract", "bOpenOutputFolder", true);
    return o;
}

const std::string& ProgramPassword() { return g_password; }
void SetProgramPassword(const std::string& password) { g_password = password; }
bool HasProgramPassword() { return !g_password.empty(); }

}  // namespace quorbel
