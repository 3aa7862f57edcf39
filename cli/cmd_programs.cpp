// quorbel-cli sfx, scan and checkout: the operations that make programs, run the user's
// scanner, or put files into the desktop's menu; the settings the window uses apply unless the
// arguments say otherwise.
#include <filesystem>

#include "app/ops/checkout.h"
#include "app/ops/self_extractor.h"
#include "app/ops/virus_scan.h"
#include "core/messages.h"
#include "core/status.h"
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

int Usage(TextOut& err) {
    err << "usage: quorbel-cli sfx ARCHIVE [OUT] [--type 0|1|2] [--stub FILE] [--program PATH]\n"
           "       quorbel-cli scan ARCHIVE [MEMBER...] [--scanner PATH] [--parameters TEMPLATE]\n"
           "       quorbel-cli checkout ARCHIVE [--folder DIR] [--group NAME]\n"
           "       quorbel-cli checkout --cleanup ARCHIVE\n";
    return 2;
}

// A member by its stored name, typed with '/' or '\\'.
int FindByName(const ArchiveHandler& handler, std::string name) {
    for (char& c : name) if (c == '/') c = '\\';
    for (size_t i = 0; i < handler.EntryCount(); ++i)
        if (handler.Entry(i).full_name == name) return int(i);
    return -1;
}

int Sfx(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
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

int Scan(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string archive;
    std::vector<std::string> members;
    ScannerSettings settings = ScannerSettings::Load();
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--scanner" || a == "--parameters") {
            if (i + 1 >= args.size()) return Usage(err);
            (a == "--scanner" ? settings.path : settings.parameters) = args[++i];
        } else if (a.rfind("--", 0) == 0) {
            return Usage(err);
        } else if (archive.empty()) {
            archive = a;
        } else {
            members.push_back(a);
        }
    }
    if (archive.empty()) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(Absolute(archive), *progress, err);
    if (!handler) return 1;
    std::vector<int> indices;
    for (const auto& m : members) {
        int index = FindByName(*handler, m);
        if (index < 0) {
            err << FormatText(StringById(text_id::kNoSuchMember).c_str(), m.c_str()) << "\n";
            return 1;
        }
        indices.push_back(index);
    }
    ScanResult result = ScanForViruses(*handler, indices, settings, *progress);
    out << result.output;
    if (!result.output.empty() && result.output.back() != '\n') out << "\n";
    using Verdict = ScanResult::Verdict;
    bool good = result.verdict == Verdict::Clean || result.verdict == Verdict::Completed;
    if (!result.message.empty()) (good ? out : err) << result.message << "\n";
    return good ? 0 : 1;
}

int CheckOutCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    std::string archive, folder, group;
    bool cleanup = false, group_given = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--folder" || a == "--group") {
            if (i + 1 >= args.size()) return Usage(err);
            group_given |= a == "--group";
            (a == "--folder" ? folder : group) = args[++i];
        } else if (a == "--cleanup") {
            cleanup = true;
        } else if (a.rfind("--", 0) == 0 || !archive.empty()) {
            return Usage(err);
        } else {
            archive = a;
        }
    }
    if (archive.empty()) return Usage(err);
    archive = Absolute(archive);
    if (cleanup) {
        CheckOutRecord record = CheckOutRecord::Load(archive);
        if (record.Empty()) {
            err << "No check-out of \"" << archive << "\" is on record.\n";
            return 1;
        }
        auto left = CleanUpCheckOut(record);
        CheckOutRecord::Forget(archive);
        for (const auto& path : left)
            err << FormatText(StringById(text_id::kCouldNotRemove).c_str(), path.c_str()) << "\n";
        return left.empty() ? 0 : 1;
    }
    if (folder.empty()) folder = DefaultCheckOutFolder(archive);
    if (!group_given) group = DefaultGroupName(archive);
    if (!ValidGroupName(group)) {
        err << "\"" << group << "\" cannot be a menu group name.\n";
        return 2;
    }
    auto progress = MakeProgress();
    auto handler = OpenOrReport(archive, *progress, err);
    if (!handler) return 1;
    CheckOutResult result = CheckOut(*handler, Absolute(folder), group);
    // Kept also after a failure, so that --cleanup can remove what was written.
    result.record.Store();
    if (result.status != kStatusOk) {
        err << result.message << "\n";
        return 1;
    }
    out << result.record.files.size() << " file(s) in " << result.record.output_folder
        << ", menu group " << result.record.group_folder << "\n";
    return 0;
}

}  // namespace

int RunProgramsCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    if (args[0] == "sfx") return Sfx(args, out, err);
    if (args[0] == "scan") return Scan(args, out, err);
    if (args[0] == "checkout") return CheckOutCommand(args, out, err);
    return Usage(err);
}

bool IsProgramsCommand(const std::string& command) {
    return command == "sfx" || command == "scan" || command == "checkout";
}

}  // namespace quorbel::cli
