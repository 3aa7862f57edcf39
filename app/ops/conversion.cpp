#include "app/ops/conversion.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

#include "app/ops/member_path.h"
#include "app/ops/test_report.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "formats/ace/ace_archive.h"
#include "formats/arj/arj_archive.h"
#include "formats/format_table.h"
#include "formats/jar_archive.h"
#include "formats/lha/lha_archive.h"
#include "formats/rar/rar_archive.h"
#include "formats/zoo/zoo_archive.h"
#include "platform/file_system.h"
#include "platform/temp_folders.h"

namespace quorbel {

const std::vector<ConvertTarget>& ConvertTargets() {
    static const std::vector<ConvertTarget> targets = {
        {"ZIP", ".zip"}, {"ARJ", ".arj"}, {"LHA", ".lzh"}, {"ZOO", ".zoo"},
        {"RAR", ".rar"}, {"ACE", ".ace"}, {"JAR", ".j"},
    };
    return targets;
}

int ConvertFormatByName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    const auto& targets = ConvertTargets();
    for (size_t i = 0; i < targets.size(); ++i)
        if (upper == targets[i].shown) return int(i);
    return -1;
}

std::unique_ptr<ArchiveHandler> NewConvertTarget(int format) {
    switch (format) {
        case 0: return std::make_unique<ZipArchive>();
        case 1: return std::make_unique<ArjArchive>();
        case 2: return std::make_unique<LhaArchive>();
        case 3: return std::make_unique<ZooArchive>();
        case 4: return std::make_unique<RarArchive>();
        case 5: return std::make_unique<AceArchive>();
        case 6: return std::make_unique<JarArchive>();
        default: return nullptr;
    }
}

namespace {
std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string StemOf(const std::string& path) {
    std::string name = FileNameOfPath(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The same file: the same inode when both exist, else the same path.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa{}, sb{};
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a == b;
}

// Restores the program's password however the loop ends.
struct PasswordKeeper {
    std::string saved = ProgramPassword();
    ~PasswordKeeper() { SetProgramPassword(saved); }
};
}  // namespace

std::string ConversionOutputPath(const std::string& source, const ConversionOptions& options) {
    const std::string ext = ConvertTargets()[size_t(options.format)].extension;
    const std::string stem = StemOf(source);
    std::string path = JoinPath(options.output_folder, stem + ext);
    if (!options.rename_on_collision) return path;
    for (int n = 1; FileExists(path) || IsFolder(path); ++n)
        path = JoinPath(options.output_folder, stem + " (" + std::to_string(n) + ")" + ext);
    return path;
}

ConversionResult ConvertArchives(const std::vector<std::string>& sources,
                                 const ConversionOptions& options, ProgressSink& sink,
                                 std::time_t now) {
    ConversionResult result;
    const auto& targets = ConvertTargets();
    if (options.format < 0 || size_t(options.format) >= targets.size()) return result;
    const ConvertTarget& target = targets[size_t(options.format)];
    {
        auto probe = NewConvertTarget(options.format);
        if (!probe) {
            result.stop_message = FormatText(MessageTemplate(kMsgUnsupportedOperation).c_str(), target.shown);
            return result;
        }
        auto* external = dynamic_cast<ExternalArchive*>(probe.get());
        if (external && !external->LocateProgram()) {
            result.stop_message = FormatText(MessageTemplate(kMsgNoProgram).c_str(), target.shown);
            return result;
        }
    }
    PasswordKeeper password;
    sink.Begin();
    sink.SetRange(0, int64_t(sources.size()));
    for (size_t i = 0; i < sources.size(); ++i) {
        const std::string& source = sources[i];
        sink.SetText(FormatText(StringById(text_id::kConvertProgress).c_str(),
                                FileNameOfPath(source).c_str(), target.extension));
        if (sink.SetPos(int64_t(i)) == 0) {
            result.aborted = true;
            break;
        }
        ConversionLine line;
        line.source = source;
        line.label = FormatText(StringById(text_id::kConvertLine).c_str(),
                                EscapeControlCharacters(source).c_str());
        auto fail = [&](const std::string& text) {
            line.status = text;
            line.error = true;
        };

        int status = kStatusFailed;
        std::string reason;
        std::unique_ptr<ArchiveHandler> handler = OpenArchiveFile(source, status, &sink, &reason);
        if (!handler) {
            if (status == kStatusAborted) {
                fail(StringById(text_id::kTestAborted));
                result.aborted = true;
            } else {
                fail(FormatText(StringById(text_id::kUnknownArchiveFormat).c_str(), source.c_str()));
            }
            result.lines.push_back(line);
            if (result.aborted) break;
            continue;
        }
        handler->SetSink(&sink);
        SetProgramPassword("");
        if (handler->HasEncrypted() &&
            Prompts().AskYesNo(FormatText(StringById(text_id::kConvertAskPassword).c_str(), source.c_str()))) {
            auto answer = Prompts().AskPassword(
                FormatText(StringById(text_id::kPasswordPrompt).c_str(), source.c_str()));
            if (answer) SetProgramPassword(*answer);
        }

        const std::string temporary = LoadHandlerOptions().temporary_directory;
        std::string scratch = CreateScratchFolder(temporary);
        // Our own private folder: nothing in it is kept, nothing older is preferred.
        handler->Extraction().overwrite = true;
        handler->Extraction().skip_older = false;
        handler->ClearSkippedReport();
        status = scratch.empty() ? kStatusCannotCreate : handler->ExtractAll(scratch, true, true);
        if (scratch.empty()) handler->SetMessage(kMsgCannotCreate, temporary);
        if (status != kStatusOk) {
            if (status == kStatusAborted) result.aborted = true;
            fail(TestStatusText(status, *handler));
        } else {
            line.skipped = int(handler->SkippedReport().size());
            std::string output = ConversionOutputPath(source, options);
            if (SameFile(output, source)) {
                fail(FormatText(StringById(text_id::kOutputIsSource).c_str(), output.c_str()));
            } else {
                // Built beside the output under a name of its own (keeping the extension, which
                // archivers go by), renamed over the output only once it is complete.
                std::string temp = JoinPath(FolderOfPath(output), "." + StemOf(output) + ".quorbel-" +
                                                                      std::to_string(getpid()) + target.extension);
                unlink(temp.c_str());
                MakeFolders(FolderOfPath(output));
                auto builder = NewConvertTarget(options.format);
                builder->SetSink(&sink);
                int built = builder->CreateFromFolder(temp, scratch);
                std::string message = builder->LastMessage();
                builder.reset();
                if (built == kStatusOk && rename(temp.c_str(), output.c_str()) == 0) {
                    line.output = output;
                    line.status = line.skipped > 0
                                      ? FormatText(StringById(text_id::kConvertSkipped).c_str(), line.skipped)
                                      : StringById(text_id::kTestOk);
                    result.converted.push_back(i);
                } else {
                    unlink(temp.c_str());
                    if (built == kStatusAborted) result.aborted = true;
                    fail(built == kStatusOk ? FormatText(MessageTemplate(kMsgCannotRename).c_str(), temp.c_str())
                         : built == kStatusAborted ? StringById(text_id::kTestAborted)
                         : built == 9 || built == kStatusNoDiskSpace ? StringById(text_id::kTestNoSpace)
                                                                     : message);
                }
            }
        }
        if (!scratch.empty()) RemoveTree(scratch);
        handler.reset();
        result.lines.push_back(line);
        if (result.aborted) break;
    }
    sink.End(0);

    // The report: the title, each line padded to the longest label plus 3, the summary.
    std::tm tm{};
    localtime_r(&now, &tm);
    char date[64], clock[64];
    std::strftime(date, sizeof date, "%x", &tm);
    std::strftime(clock, sizeof clock, "%X", &tm);
    result.report = FormatText(StringById(text_id::kConvertTitle).c_str(), target.extension) + " - " +
                    date + " " + clock + "\n";
    size_t width = 0;
    for (const auto& l : result.lines) width = std::max(width, l.label.size());
    for (const auto& l : result.lines) {
        result.report += l.label + std::string(width + 3 - l.label.size(), ' ') + l.status + "\n";
        if (l.error) ++result.errors;
    }
    int converted = int(result.converted.size());
    result.report += result.errors == 0
                         ? FormatText(StringById(text_id::kConvertSummaryOk).c_str(), converted)
                         : FormatText(StringById(text_id::kConvertSummaryErrors).c_str(), converted, result.errors);
    result.report += "\n";
    return result;
}

}  // namespace quorbel
