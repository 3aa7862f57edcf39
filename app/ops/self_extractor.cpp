#include "app/ops/self_extractor.h"

#include <sys/stat.h>

#include <fstream>

#include "core/archive_handler.h"
#include "core/messages.h"
#include "core/status.h"
#include "core/zip/zip_archive.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/resources.h"

namespace quorbel {

namespace {

std::string CannotOpen(const std::string& path) {
    return FormatText(MessageTemplate(kMsgCannotOpen).c_str(), path.c_str());
}

// The process's file-creation mask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return mode_t(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

SfxSettings SfxSettings::Load() {
    AppRegistry reg;
    SfxSettings s;
    s.type = int(reg.ReadInteger(kMakeExeKey, "Type", 0));
    s.boot_block = reg.ReadText(kMakeExeKey, "BootBlock");
    s.path = reg.ReadText(kMakeExeKey, "Path");
    return s;
}

void SfxSettings::Store() const {
    AppRegistry reg;
    reg.WriteInteger(kMakeExeKey, "Type", type == 1 || type == 2 ? type : 0);
    reg.WriteText(kMakeExeKey, "BootBlock", boot_block);
    reg.WriteText(kMakeExeKey, "Path", path);
}

std::string SelfExtractorFilter() {
    std::string ext = kSelfExtractorExtension;
    return "Executable Files (*" + ext + ")|*" + ext + "|All Files (*.*)|*.*||";
}

std::string ProposedSelfExtractorName(const std::string& archive_path) {
    std::string name = FileNameOfPath(archive_path);
    size_t dot = name.find_last_of('.');
    std::string stem = archive_path;
    if (dot != std::string::npos && dot > 0) stem.resize(archive_path.size() - (name.size() - dot));
    return stem + kSelfExtractorExtension;
}

std::optional<std::vector<uint8_t>> BuiltInStub(std::string& message) {
    const std::string label = "resource " + std::to_string(kSfxStubResource);
    auto bytes = LoadResource("ZIP", kSfxStubResource);
    if (!bytes) {
        message = CannotOpen(label);
        return std::nullopt;
    }
    ZipArchive zip;
    if (zip.OpenFromMemory(std::move(*bytes), label) != kStatusOk) {
        message = zip.LastMessage();
        return std::nullopt;
    }
    if (zip.EntryCount() == 0) {
        message = CannotOpen(label);
        return std::nullopt;
    }
    int status = kStatusOk;
    MemoryBlock block = zip.UnpackEntry(zip.Entry(0), status);
    if (!block || status != kStatusOk) {
        message = zip.LastMessage().empty() ? CannotOpen(label) : zip.LastMessage();
        return std::nullopt;
    }
    return std::vector<uint8_t>(block.data.get(), block.data.get() + block.size);
}

SfxOutcome MakeSelfExtractor(ArchiveHandler& handler, const std::string& output_path,
                             const SfxCallbacks& callbacks, std::string& message,
                             std::string* made_path, const SfxSettings* given) {
    const SfxSettings settings = given ? *given : SfxSettings::Load();
    const bool zip = handler.FormatName() == "ZIP";
    const std::string archive = handler.ArchivePath();

    if (zip && settings.type == 2) {
        if (!FileExists(settings.path) || IsFolder(settings.path)) {
            message = CannotOpen(settings.path);
            return SfxOutcome::Failed;
        }
        int code = callbacks.run_program ? callbacks.run_program(settings.path, archive) : -1;
        if (code != 0) {
            message = code < 0 ? CannotOpen(settings.path)
                               : settings.path + " ended with code " + std::to_string(code) + ".";
            return SfxOutcome::Failed;
        }
        return SfxOutcome::ExternalDone;
    }

    std::string output = output_path;
    if (output.empty()) {
        if (!callbacks.choose_output) return SfxOutcome::Cancelled;
        auto chosen = callbacks.choose_output(ProposedSelfExtractorName(archive));
        if (!chosen || chosen->empty()) return SfxOutcome::Cancelled;
        output = *chosen;
    }
    if (output == archive) {
        // The archive would be the source and the target of one write.
        message = CannotOpen(output);
        return SfxOutcome::Failed;
    }

    std::optional<std::vector<uint8_t>> prefix;
    if (zip) {
        if (settings.type == 1) {
            if (!FileExists(settings.boot_block) || IsFolder(settings.boot_block) ||
                !(prefix = ReadWholeFile(settings.boot_block))) {
                message = CannotOpen(settings.boot_block);
                return SfxOutcome::Failed;
            }
        } else {
            prefix = BuiltInStub(message);
            if (!prefix) return SfxOutcome::Failed;
        }
    }

    // The handler writes beside `output` and renames when complete: a failed write leaves
    // neither a half program nor a lost older file.
    int status = handler.SaveAs(output, 0, prefix ? &*prefix : nullptr);
    if (status != kStatusOk) {
        message = handler.LastMessage();
        return status == kStatusAborted ? SfxOutcome::Cancelled : SfxOutcome::Failed;
    }
    chmod(output.c_str(), 0777 & ~CurrentUmask());
    message = FormatText(StringById(text_id::kUueCreated).c_str(), output.c_str());
    if (made_path) *made_path = output;
    return SfxOutcome::Created;
}

}  // namespace quorbel
