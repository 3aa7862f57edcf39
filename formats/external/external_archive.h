// The base of the formats whose changes are made by the user's own command-line archiver (RAR,
// ARJ, JAR, ZOO, ACE, LHA). Each format lists its archives itself; adding, deleting, making a
// self-extractor and (where the format has no engine here) extracting start the archiver with
// a command template, and the result is judged before anything is committed: by the program's
// exit status, then by reading the archive it wrote.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/archive_handler.h"
#include "formats/engines/archive_member.h"
#include "formats/engines/member_time.h"
#include "formats/engines/unpack.h"
#include "formats/external/run_program.h"

namespace quorbel {

// The command templates of one archiver. Placeholders: "%Archive", "%File", "%Password",
// "%OutputDir". An empty template means the archiver does not offer that command.
struct CommandTemplates {
    std::string add_file, add_file_password;
    std::string add_folder, add_folder_password;
    std::string delete_entries, delete_password;
    std::string extract, extract_password;
    std::string make_sfx;
    // The archiver takes long names in "%File" (kept for the DOS sets; Linux never shortens).
    bool long_file_names = false;
    // The archiver follows Unix wildcard rules: a folder add gets the folder's files as
    // arguments instead of "*.*", which such a tool would take for a file name.
    bool expand_wildcards = false;
};

// The value names of the slots under "Programs\Templates\<format>\", in slot order.
inline constexpr const char* kTemplateSlotNames[] = {
    "AddFile", "AddFilePassword", "AddFolder", "AddFolderPassword", "Delete",
    "DeletePassword", "Extract", "ExtractPassword", "MakeSfx"};
std::string* TemplateSlot(CommandTemplates& t, size_t slot);

// The templates written for the format's DOS/Windows archiver.
CommandTemplates DefaultTemplates(const std::string& format);
// The set for an archiver by its program's base name ("arj", "jlha", "lhasa", "zoo", "unar");
// the DOS defaults for any other name.
CommandTemplates TemplatesForProgram(const std::string& format, const std::string& program);
// That set with the user's overrides from "Programs\Templates\<format>\" applied.
CommandTemplates ConfiguredTemplates(const std::string& format, const std::string& program);

enum CommandKind {
    kAddCommand = 1,
    kAddFolderCommand = 2,
    kDeleteCommand = 3,
    kExtractCommand = 4,
    kSfxCommand = 5,
};

class ExternalArchive : public ArchiveHandler {
public:
    explicit ExternalArchive(const std::string& format_name);

    // A new archive at archive_path with every file below folder. An archive already there is
    // kept until the new one has been written and read back.
    int CreateFromFolder(const std::string& archive_path, const std::string& folder) override;
    // Adds one file under its path below base_folder (inside archive_folder), committed only
    // when the archiver succeeded and the member is listed afterwards.
    int AddFile(const std::string& disk_path, const std::string& base_folder,
                const std::string& archive_folder) override;
    // Deletes one member through the archiver (committed only when it is gone afterwards).
    int DeleteEntry(int index, bool save_now) override;
    // Extracts one member through the archiver into a fresh private folder, selected by its
    // full stored name, and reads back exactly that file with a size and CRC check.
    MemoryBlock UnpackEntry(const ArchiveEntry& entry, int& status) override;
    // The archiver's self-extractor of the archive, copied to target_path.
    int SaveAs(const std::string& target_path, int64_t volume_size,
               const std::vector<uint8_t>* prefix) override;
    bool CanUpdate() override { return true; }
    bool CanExtract() override { return true; }
    bool CanMakeSfx() override { return true; }
    virtual bool CanAddFolder() { return true; }

    // Finds the archiver: the "Programs" value named after the format, a path or a bare name
    // on PATH, which must be executable. Also loads its templates. False when there is none.
    bool LocateProgram();
    // Builds and runs one command and judges it: 1 success (for changes: committed), else the
    // failure with its message (17 no program, 2 aborted, 0 failed).
    // `file_spec`: the file (its bare name, run in `folder`), the staged folder, or the member's
    // stored name; `folder`: where the child runs and, for extraction, its output folder.
    int RunCommand(CommandKind kind, const std::string& file_spec, const std::string& folder,
                   bool ask_password);

    const std::string& ProgramPath() const { return program_path_; }
    const CommandTemplates& Templates() const { return templates_; }
    // The argument vector (program first) of the last command run; for tests and the log.
    const std::vector<std::string>& LastCommand() const { return last_command_; }
    // The stored name as the archive holds it (raw bytes, its own separators).
    std::string StoredNameOf(const ArchiveEntry& entry) const;

protected:
    // A handler of the same format, to read back what the archiver wrote.
    virtual std::unique_ptr<ExternalArchive> NewOfSameFormat() const = 0;
    // The member's data against the CRC of its directory record; true when it has none.
    virtual bool CrcMatches(const ArchiveEntry& entry, const uint8_t* data, size_t size) const;
    // Fills an entry and keeps its raw stored name for the archiver's commands.
    ArchiveEntry* SetExternalEntry(size_t index, bool is_file, const std::string& raw_name,
                                   const std::string& shown_name, int64_t packed,
                                   int64_t unpacked, int64_t crc, uint32_t attributes,
                                   bool encrypted, uint16_t dos_date, uint16_t dos_time,
                                   const std::string& comment);
    // A listed member of a format read natively: its mode (a Unix mode from a Unix host is kept
    // as a Unix mode, never taken for DOS attribute bits) and its time (DOS or Unix).
    ArchiveEntry* SetMemberEntry(size_t index, bool is_file, const std::string& raw_name,
                                 int64_t packed, int64_t unpacked, int64_t crc,
                                 const engines::MemberMode& mode, bool encrypted,
                                 const engines::MemberTime& time, const std::string& comment);
    // Runs a native engine into a block that grows with what arrives, at most the entry's
    // unpacked size (a header's size never sizes an allocation), with progress and Cancel; then
    // checks the length and the CRC (CRC-16 when crc16, else CRC-32). status as UnpackEntry's.
    MemoryBlock UnpackNative(const ArchiveEntry& entry, bool crc16,
                             const std::function<engines::UnpackStatus(engines::OutputSink&)>& run,
                             int& status);
    // Listing progress for the directory readers: false once the user stopped.
    engines::DirectoryProgress ListingProgress();
    // The text for LastMessage when a command ran and failed.
    void ReportProgramFailure(const ProgramResult& result);

    CommandTemplates templates_;
    std::string program_path_;

private:
    // The working copy: `fresh` starts from nothing (a new archive), else from the archive.
    int PrepareWorkingCopy(std::string& working, bool fresh);
    // The archive the archiver wrote: readable, and passing `check` (member present or gone).
    int JudgeAndCommit(const std::string& working,
                       const std::function<bool(ExternalArchive&)>& check, int failure_text,
                       const std::string& subject);
    std::vector<std::string> BuildArguments(CommandKind kind, const std::string& archive_arg,
                                            const std::string& file_spec,
                                            const std::string& folder, bool ask_password,
                                            const std::string& template_text, bool dos);

    std::vector<std::string> last_command_;
    bool fresh_working_copy_ = false;
    std::string working_path_;
    std::function<bool(ExternalArchive&)> commit_check_;
    int commit_failure_text_ = 0;
    std::string commit_subject_;
};

}  // namespace quorbel
