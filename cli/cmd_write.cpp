// add, create, delete, rename, comment, uuencode and span: the commands that change or make
// archives.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <unistd.h>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/terminal_progress.h"
#include "core/messages.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_span.h"
#include "formats/format_table.h"
#include "formats/uue_archive.h"
#include "platform/file_system.h"

namespace quorbel::cli {

namespace {
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: quorbel-cli add      ARCHIVE PATH... [--action add|freshen|update] [--base DIR]\n"
    "                            [--folder NAME] [--recurse | --no-recurse] [--store83]\n"
    "                            [--only-non-archived] [--reset-archive] [--no-system]\n"
    "       quorbel-cli create   ARCHIVE FOLDER\n"
    "       quorbel-cli delete   ARCHIVE MEMBER...\n"
    "       quorbel-cli rename   ARCHIVE MEMBER NEWNAME\n"
    "       quorbel-cli comment  ARCHIVE [MEMBER] --text TEXT\n"
    "       quorbel-cli uuencode FILE [OUT]\n"
    "       quorbel-cli span     ARCHIVE TARGET [--volume-size BYTES]   (BYTES >= 65536)\n";

int Usage(TextOut& err) {
    err << kUsage;
    return 2;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::string abs = fs::absolute(path, ec).lexically_normal().string();
    while (abs.size() > 1 && abs.back() == '/') abs.pop_back();
    return ec ? path : abs;
}

int Fail(const ArchiveHandler& handler, TextOut& err) {
    err << handler.LastMessage() << "\n";
    return 1;
}

// The entry index of a stored name given with '/' or '\'; -1 with the message shown.
int FindMember(ArchiveHandler& handler, const std::string& member, TextOut& err) {
    int index = handler.FindEntry(member);
    if (index < 0) {
        // Folder entries are not in the name index; look for them directly.
        std::string wanted = member;
        std::replace(wanted.begin(), wanted.end(), '/', '\\');
        for (size_t i = 0; i < handler.EntryCount(); ++i) {
            std::string name = handler.Entry(i).full_name;
            if (name == wanted || name == wanted + "\\") return int(i);
        }
        err << FormatText(StringById(text_id::kNoSuchMember).c_str(), member.c_str()) << "\n";
    }
    return index;
}

int Add(const std::vector<std::string>& args, TextOut& err) {
    AddRequest request = AddRequest::FromSettings();
    std::string archive, base, folder;
    std::vector<std::string> inputs;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
        if (a == "--action") {
            const std::string* v = value();
            if (!v) return Usage(err);
            if (*v == "add") request.action = AddRequest::kAddReplace;
            else if (*v == "freshen") request.action = AddRequest::kFreshen;
            else if (*v == "update") request.action = AddRequest::kUpdate;
            else return Usage(err);
        } else if (a == "--base" || a == "--folder") {
            const std::string* v = value();
            if (!v) return Usage(err);
            (a == "--base" ? base : folder) = *v;
        } else if (a == "--recurse") {
            request.include_sub_folders = true;
        } else if (a == "--no-recurse") {
            request.include_sub_folders = false;
        } else if (a == "--store83") {
            request.store_format83 = true;
        } else if (a == "--only-non-archived") {
            request.include_only_non_archived = true;
        } else if (a == "--reset-archive") {
            request.reset_archive_attribute = true;
        } else if (a == "--no-system") {
            request.include_system_files = false;
        } else if (a.rfind("--", 0) == 0) {
            return Usage(err);
        } else if (archive.empty()) {
            archive = a;
        } else {
            inputs.push_back(a);
        }
    }
    if (archive.empty() || inputs.empty()) return Usage(err);
    archive = Absolute(archive);
    // The base folder: the folder of the first path; a folder given as the first path is its
    // own base, or its parent's when stored names keep the folder's name.
    std::string first = Absolute(inputs[0]);
    if (base.empty()) {
        base = IsFolder(first) && !request.save_current_folder_name ? first : FolderOfPath(first);
    }
    request.base_folder = Absolute(base);
    request.archive_folder = folder;
    for (const std::string& input : inputs) {
        std::string path = Absolute(input);
        if (IsFolder(path)) {
            std::vector<std::string> found;
            std::error_code ec;
            if (request.include_sub_folders) {
                for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                    if (it->is_regular_file(ec)) found.push_back(it->path().string());
            } else {
                for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
                    if (it->is_regular_file(ec)) found.push_back(it->path().string());
            }
            std::sort(found.begin(), found.end());
            request.paths.insert(request.paths.end(), found.begin(), found.end());
        } else {
            request.paths.push_back(path);
        }
    }
    auto progress = MakeProgress();
    std::unique_ptr<ArchiveHandler> handler;
    if (FileExists(archive)) {
        handler = OpenOrReport(archive, *progress, err);
        if (!handler) return 1;
    } else {
        auto zip = std::make_unique<ZipArchive>();
        zip->SetSink(progress.get());
        if (zip->Create(archive) != kStatusOk) return Fail(*zip, err);
        handler = std::move(zip);
    }
    return handler->AddFiles(request) == kStatusOk ? 0 : Fail(*handler, err);
}

int Create(const std::vector<std::string>& args, TextOut& err) {
    if (args.size() != 3) return Usage(err);
    auto progress = MakeProgress();
    ZipArchive zip;
    zip.SetSink(progress.get());
    std::string folder = Absolute(args[2]);
    if (!IsFolder(folder)) {
        zip.SetMessage(kMsgCannotOpen, folder);
        return Fail(zip, err);
    }
    return zip.CreateFromFolder(Absolute(args[1]), folder) == kStatusOk ? 0 : Fail(zip, err);
}

int Delete(const std::vector<std::string>& args, TextOut& err) {
    if (args.size() < 3) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(Absolute(args[1]), *progress, err);
    if (!handler) return 1;
    std::vector<int> indices;
    for (size_t i = 2; i < args.size(); ++i) {
        int index = FindMember(*handler, args[i], err);
        if (index < 0) return 1;
        if (std::find(indices.begin(), indices.end(), index) == indices.end()) indices.push_back(index);
    }
    return handler->DeleteEntries(indices, true) == kStatusOk ? 0 : Fail(*handler, err);
}

int Rename(const std::vector<std::string>& args, TextOut& err) {
    if (args.size() != 4) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(Absolute(args[1]), *progress, err);
    if (!handler) return 1;
    int index = FindMember(*handler, args[2], err);
    if (index < 0) return 1;
    if (!handler->CanEdit()) return Fail(*handler, err);
    // The member's comment is passed along so that the rename keeps it.
    std::string comment = handler->Entry(size_t(index)).comment;
    return handler->ModifyEntry(index, args[3], &comment) == kStatusOk ? 0 : Fail(*handler, err);
}

int Comment(const std::vector<std::string>& args, TextOut& err) {
    std::string archive, member, text;
    bool have_text = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--text") {
            if (i + 1 >= args.size()) return Usage(err);
            text = args[++i];
            have_text = true;
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage(err);
        } else if (archive.empty()) {
            archive = args[i];
        } else if (member.empty()) {
            member = args[i];
        } else {
            return Usage(err);
        }
    }
    if (archive.empty() || !have_text) return Usage(err);
    auto progress = MakeProgress();
    auto handler = OpenOrReport(Absolute(archive), *progress, err);
    if (!handler) return 1;
    if (!handler->CanEdit()) return Fail(*handler, err);
    int status;
    if (member.empty()) {
        status = handler->SetArchiveComment(text);
    } else {
        int index = FindMember(*handler, member, err);
        if (index < 0) return 1;
        // An empty text removes the comment.
        status = handler->ModifyEntry(index, "", text.empty() ? nullptr : &text);
    }
    return status == kStatusOk ? 0 : Fail(*handler, err);
}

int UuEncode(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    if (args.size() < 2 || args.size() > 3) return Usage(err);
    std::string source = args[1];
    std::string target = args.size() == 3 ? args[2] : UueTargetFor(source);
    auto progress = MakeProgress();
    std::string message;
    if (!UuEncodeFile(source, target, progress.get(), message)) {
        err << message << "\n";
        return 1;
    }
    out << FormatText(StringById(text_id::kUueCreated).c_str(), target.c_str()) << "\n";
    return 0;
}

int Span(const std::vector<std::string>& args, TextOut& err) {
    std::string archive, target;
    int64_t volume_size = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--volume-size") {
            if (i + 1 >= args.size()) return Usage(err);
            const std::string& v = args[++i];
            if (v.empty() || v.size() > 18 || v.find_first_not_of("0123456789") != std::string::npos)
                return Usage(err);
            volume_size = std::stoll(v);
            if (uint64_t(volume_size) < zip::kMinVolumeSize) return Usage(err);
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage(err);
        } else if (archive.empty()) {
            archive = args[i];
        } else if (target.empty()) {
            target = args[i];
        } else {
            return Usage(err);
        }
    }
    if (archive.empty() || target.empty()) return Usage(err);
    target = Absolute(target);
    if (volume_size == 0 && !IsRemovable(target)) {
        err << StringById(text_id::kSpanNeedsRemovable) << "\n";
        return 1;
    }
    auto progress = MakeProgress();
    auto handler = OpenOrReport(Absolute(archive), *progress, err);
    if (!handler) return 1;
    return zip::SpanArchive(*handler, target, volume_size) == kStatusOk ? 0 : Fail(*handler, err);
}
}  // namespace

bool IsWriteCommand(const std::string& command) {
    return command == "add" || command == "create" || command == "delete" || command == "rename" ||
           command == "comment" || command == "uuencode" || command == "span";
}

int RunWriteCommand(const std::vector<std::string>& args, TextOut& out, TextOut& err) {
    const std::string& command = args[0];
    if (command == "add") return Add(args, err);
    if (command == "create") return Create(args, err);
    if (command == "delete") return Delete(args, err);
    if (command == "rename") return Rename(args, err);
    if (command == "comment") return Comment(args, err);
    if (command == "uuencode") return UuEncode(args, out, err);
    if (command == "span") return Span(args, err);
    return Usage(err);
}

}  // namespace quorbel::cli
