// convert: archives of any readable format into one writable format, with the report.
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/ops/conversion.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"

namespace quorbel::cli {

namespace {
constexpr const char* kUsage =
    "usage: quorbel-cli convert SOURCE... --format zip|arj|lha|zoo|rar|ace|jar [--out DIR]\n"
    "                           [--no-rename]\n";
}

int RunConvertCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    namespace fs = std::filesystem;
    ConversionOptions options;
    options.format = -1;
    // The defaults of "Options\Convert\"; the output folder is the current one unless given.
    AppRegistry registry;
    options.rename_on_collision = registry.ReadBool("Options\\Convert", "bRenameOnCollision", true);
    std::vector<std::string> sources;
    std::string out_dir;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--format" && i + 1 < args.size()) {
            options.format = ConvertFormatByName(args[++i]);
            if (options.format < 0) {
                err << kUsage;
                return 2;
            }
        } else if (a == "--out" && i + 1 < args.size()) {
            out_dir = args[++i];
        } else if (a == "--no-rename") {
            options.rename_on_collision = false;
        } else if (a.rfind("--", 0) == 0) {
            err << kUsage;
            return 2;
        } else {
            sources.push_back(a);
        }
    }
    if (sources.empty() || options.format < 0) {
        err << kUsage;
        return 2;
    }
    std::error_code ec;
    options.output_folder = fs::absolute(out_dir.empty() ? "." : out_dir, ec).lexically_normal().string();
    while (options.output_folder.size() > 1 && options.output_folder.back() == '/') options.output_folder.pop_back();
    for (auto& s : sources) s = fs::absolute(s, ec).lexically_normal().string();
    auto progress = MakeProgress();
    ConversionResult result = ConvertArchives(sources, options, *progress, std::time(nullptr));
    if (!result.stop_message.empty()) {
        err << result.stop_message << "\n";
        return 1;
    }
    out << result.report;
    return result.errors == 0 && !result.aborted ? 0 : 1;
}

}  // namespace quorbel::cli
