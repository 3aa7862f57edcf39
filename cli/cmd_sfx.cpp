// quorbel-cli sfx: the self-extractor of an archive, with the settings the window uses unless
// the arguments say otherwise.
#include <filesystem>
#include <iostream>

#include "app/ops/self_extractor.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "platform/process.h"

namespace quorbel::cli {

namespace {
std::string Absolute(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

int Usage(std::ostream& err) {
    err << "usage: quorbel-cli sfx ARCHIVE [OUT] [--type 0|1|2] [--stub FILE] [--program PATH]\n";
    return 2;
}
}  // namespace

int RunSfxCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string archive, output;
    SfxSettings settings = SfxSettings::Load();
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--type" || a == "--stub" || a == "--program") {
            if (i + 1 >= args.size()) return Usage(err);
            const std::string& v = args[++i];
            if (a == "--type") {
                if (v != "0" && v != "1" && v != "2") return Usage(err);
                settings.type = v[0] - '0';
            } else if (a == "--stub") {
                settings.boot_block = Absolute(v);
            } else {
                settings.path = v;
            }
        } else if (a.rfind("--", 0) == 0) {
            return Usage(err);
        } else if (archive.empty()) {
            archive = a;
        } else if (output.empty()) {
            output = a;
        } else {
            return Usage(err);
        }
    }
    if (archive.empty()) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(Absolute(archive), *progress, err);
    if (!handler) return 1;
    if (!handler->CanMakeSfx()) {
        err << handler->LastMessage() << "\n";
        return 1;
    }
    // No dialog here: without OUT the proposed name is taken.
    SfxCallbacks callbacks;
    callbacks.choose_output = [](const std::string& proposal) -> std::optional<std::string> {
        return proposal;
    };
    callbacks.run_program = [](const std::string& program, const std::string& path) {
        return RunAndWait({program, path});
    };
    std::string message;
    SfxOutcome outcome = MakeSelfExtractor(*handler, output.empty() ? "" : Absolute(output),
                                           callbacks, message, nullptr, &settings);
    if (outcome == SfxOutcome::Created || outcome == SfxOutcome::ExternalDone) {
        if (!message.empty()) out << message << "\n";
        return 0;
    }
    if (!message.empty()) err << message << "\n";
    return 1;
}

}  // namespace quorbel::cli
