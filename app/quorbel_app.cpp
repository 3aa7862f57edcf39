#include "app/quorbel_app.h"

#include "app/ops/self_extractor.h"
#include "formats/external/run_program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cstdlib>
#include <fstream>

#include "app/dialog_prompts.h"
#include "app/install/install_wizard.h"
#include "app/install/installer_actions.h"
#include "app/install/registrations.h"
#include "app/main_frame.h"
#include "app/recent_files.h"
#include "app/settings_layout.h"
#include "app/ui_text.h"
#include "core/archive_handler.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/status.h"
#include "core/user_prompts.h"
#include "core/zip/zip_archive.h"
#include "core/zip/zip_span.h"
#include "formats/format_table.h"
#include "platform/file_system.h"
#include "platform/instance.h"
#include "platform/registry_access.h"

namespace quorbel {

namespace {

const char* kCommandLineFormat = "QuorbelString";
const char* kShellCommandFormat = "Quorbel";
const char* kAddToFilter = "Zip Files (*.zip)|*.zip|All Files (*.*)|*.*||";

// Records what would have been started in a file, one line per call; child processes in tests
// run with $QUORBEL_LAUNCH_LOG so that no desktop program ever starts.
class LoggingLauncher : public RecordingLauncher {
public:
    explicit LoggingLauncher(std::string path) : path_(std::move(path)) {}
    bool OpenWithAssociatedProgram(const std::string& p) override { return Log(RecordingLauncher::OpenWithAssociatedProgram(p)); }
    bool OpenFolder(const std::string& p) override { return Log(RecordingLauncher::OpenFolder(p)); }
    bool SendMail(const std::string& p) override { return Log(RecordingLauncher::SendMail(p)); }
    bool StartDrag(const std::vector<std::string>& p) override { return Log(RecordingLauncher::StartDrag(p)); }
    bool StartProgram(const std::vector<std::string>& argv, const std::string& folder) override {
        return Log(RecordingLauncher::StartProgram(argv, folder));
    }

private:
    bool Log(bool result) {
        std::ofstream(path_, std::ios::app) << calls.back() << "\n";
        return result;
    }
    std::string path_;
};

std::string WithoutExtension(const std::string& path) {
    const std::string name = FileNameOfPath(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return path;
    return path.substr(0, path.size() - (name.size() - dot));
}

}  // namespace

CQuorbelApp::CQuorbelApp(std::string running_program, std::vector<std::string> arguments)
    : running_program_(std::move(running_program)), command_line_(CommandLineText(arguments)) {}

CQuorbelApp::~CQuorbelApp() {
    frame_.reset();
    if (wrote_instance_record_) WriteInstanceRecord("0");
    SetPrompts(nullptr);
    if (own_launcher_) SetLauncher(nullptr);
}

void CQuorbelApp::SetInteraction(UserPrompts* prompts, FileChooser* files) {
    prompts_ = prompts;
    files_ = files;
    SetPrompts(prompts);
}

bool CQuorbelApp::Start() {
    AppRegistry reg;
    SetLanguage(LanguageFromSetting(reg.ReadInteger("", layout::kLanguage, 0)));
    switch_ = ClassifyCommandLine(command_line_);
    verdict_ = CheckInstallation(switch_, running_program_);

    // Only one normal instance per user: a later start hands its command line over.
    if (!verdict_.needed && switch_ != StartSwitch::Uninstall) {
        // Starters after us wait in their Create until our socket is named in the record.
        lock_ = std::make_unique<InstanceLock>();
        lock_->Create(true);
        if (switch_ != StartSwitch::FirstTime && lock_->AlreadyExisted()) {
            WriteClipboardBlock(kCommandLineFormat, MakeCommandLineBlock(command_line_));
            PostActivation(ReadInstanceRecord(), kActivationMessage, 1, 0);
            exit_code_ = 0;
            return false;
        }
        if (switch_ == StartSwitch::ShellCommand) {
            if (auto payload = ReadClipboardBlock(kShellCommandFormat))
                if (auto block = ParseShellCommandBlock(*payload))
                    shell_block_ = std::make_unique<ShellCommandBlock>(std::move(*block));
        }
    } else if (switch_ == StartSwitch::FirstTime) {
        lock_ = std::make_unique<InstanceLock>();
        lock_->Create();
    }

    // Who answers questions: the tests' scripts when the environment has them, else dialogs.
    const bool scripted = std::getenv("QUORBEL_PROMPT_ANSWERS") != nullptr;
    if (!prompts_) {
        if (scripted)
            own_prompts_ = std::make_unique<ScriptedPrompts>(ScriptedPrompts::FromEnvironment());
        else
            own_prompts_ = std::make_unique<DialogPrompts>(nullptr);
        prompts_ = own_prompts_.get();
    }
    if (!files_) {
        if (std::getenv("QUORBEL_FILE_ANSWERS"))
            own_files_ = std::make_unique<ScriptedFileChooser>(ScriptedFileChooser::FromEnvironment());
        else
            own_files_ = std::make_unique<DialogFileChooser>(nullptr);
        files_ = own_files_.get();
    }
    SetPrompts(prompts_);
    if (const char* log = std::getenv("QUORBEL_LAUNCH_LOG")) {
        own_launcher_ = std::make_unique<LoggingLauncher>(log);
        SetLauncher(own_launcher_.get());
    }

    // A complete installation keeps its desktop registrations up to date at every start.
    if (!verdict_.needed && switch_ != StartSwitch::FirstTime && switch_ != StartSwitch::Uninstall) {
        RegisterFileTypes(true, verdict_.program_path);
        RegisterContextMenu(true, verdict_.program_path);
    }
    WriteInstanceRecord("0");
    wrote_instance_record_ = true;
    LoadHandlerOptions();
    EmptyProgramTempFolder(ProgramTempFolder());
    if (switch_ != StartSwitch::Uninstall) PruneRecentFiles();

    if (verdict_.needed || switch_ == StartSwitch::Uninstall) {
        ProgressSink sink;
        if (switch_ == StartSwitch::Uninstall)
            exit_code_ = Uninstall(true, running_program_, *prompts_, sink) ? 0 : 1;
        else
            exit_code_ = RunInstallWizard(running_program_, *prompts_, scripted) ? 0 : 1;
        return false;
    }

    frame_ = std::make_unique<CMainFrame>(*prompts_, *files_);
    socket_ = std::make_unique<ActivationSocket>();
    if (socket_->Listen()) {
        WriteInstanceRecord(socket_->Name());
        notifier_ = new QSocketNotifier(socket_->Fd(), QSocketNotifier::Read, frame_.get());
        // Opening an archive runs the event loop for its progress: a hand-over waits on the
        // socket until our own command line is done, so files open in the order of their starts.
        notifier_->setEnabled(false);
        connect(notifier_, &QSocketNotifier::activated, this, &CQuorbelApp::OnActivation);
    }
    // A message posted from here on is queued on the socket until the event loop reads it.
    if (lock_) lock_->Ready();
    frame_->show();
    if (switch_ == StartSwitch::FirstTime) {
        // The first start after installing lets the user choose the options, then registers.
        if (!scripted) frame_->Options();
        RegisterFileTypes(true, verdict_.program_path);
        RegisterContextMenu(true, verdict_.program_path);
    }
    ProcessCommandLine(command_line_, false);
    if (notifier_) notifier_->setEnabled(true);
    return !ended_;
}

void CQuorbelApp::OnActivation() {
    // Likewise one hand-over at a time: the next waits until this one's file is open.
    notifier_->setEnabled(false);
    while (auto message = socket_->Receive()) {
        if (message->message != kActivationMessage) continue;
        auto payload = ReadClipboardBlock(kCommandLineFormat);
        if (!payload) continue;
        auto text = ParseCommandLineBlock(*payload);
        if (!text) continue;
        frame_->BringToFront();
        ProcessCommandLine(*text, true);
    }
    notifier_->setEnabled(true);
}

void CQuorbelApp::ProcessCommandLine(const std::string& text, bool from_running_instance) {
    if (text.empty() || !frame_) return;
    const StartSwitch what = ClassifyCommandLine(text);
    if (what == StartSwitch::New) {
        frame_->NewArchive();
        return;
    }
    if (what != StartSwitch::ShellCommand) {
        if (what == StartSwitch::None && FileExists(text) && !IsFolder(text))
            frame_->OpenDocumentFile(text);
        return;
    }
    if (!shell_block_) {
        if (auto payload = ReadClipboardBlock(kShellCommandFormat))
            if (auto block = ParseShellCommandBlock(*payload))
                shell_block_ = std::make_unique<ShellCommandBlock>(std::move(*block));
    }
    if (!shell_block_) return;
    const std::unique_ptr<ShellCommandBlock> block = std::move(shell_block_);
    CarryOutShellCommand(*block);
    if (block->type != 5 && !from_running_instance) {
        // The shell asked for one operation: the program ends with it.
        frame_->close();
        ended_ = true;
        exit_code_ = 0;
        QApplication::quit();
    }
}

bool CQuorbelApp::AddPathsToArchive(const std::string& archive,
                                    const std::vector<std::string>& paths) {
    std::unique_ptr<ArchiveHandler> handler;
    int status = 0;
    std::string message;
    if (FileExists(archive)) {
        handler = OpenArchiveFile(archive, status, &frame_->Progress(), &message);
        if (!handler) {
            if (status != kStatusAborted) frame_->ShowError(message);
            return false;
        }
    } else {
        handler = std::make_unique<ZipArchive>();
        handler->SetSink(&frame_->Progress());
        if (handler->Create(archive) != kStatusOk) {
            frame_->ShowError(handler->LastMessage());
            return false;
        }
    }
    AddRequest request = AddRequest::FromSettings();
    request.paths = paths;
    request.base_folder = FolderOfPath(paths.front());
    request.password = ProgramPassword();
    status = handler->AddFiles(request);
    if (status != kStatusOk && status != kStatusAborted) frame_->ShowError(handler->LastMessage());
    return status == kStatusOk;
}

bool CQuorbelApp::ExtractArchiveTo(const std::string& archive, const std::string& folder) {
    int status = 0;
    std::string message;
    auto handler = OpenArchiveFile(archive, status, &frame_->Progress(), &message);
    if (!handler) {
        if (status != kStatusAborted)
            frame_->ShowError(FormatText(StringById(text_id::kUnknownArchiveFormat).c_str(),
                                         archive.c_str()));
        return false;
    }
    const ExtractOptions options = LoadExtractOptions();
    handler->Extraction() = options;
    status = handler->ExtractAll(folder, options.use_folder_names, true);
    if (status != kStatusOk && status != kStatusAborted) frame_->ShowError(handler->LastMessage());
    return status == kStatusOk;
}

bool CQuorbelApp::MakeSelfExtractorOf(const std::string& archive) {
    int status = 0;
    std::string message;
    auto handler = OpenArchiveFile(archive, status, &frame_->Progress(), &message);
    if (!handler) {
        if (status != kStatusAborted) frame_->ShowError(message);
        return false;
    }
    if (!handler->CanMakeSfx()) return false;
    std::string output = ProposedSelfExtractorName(archive);
    // The question's own words: Yes replaces the file, No chooses another name.
    if (FileExists(output) &&
        !prompts_->AskYesNo(FormatText(StringById(61681).c_str(), output.c_str()))) {
        auto chosen = files_->SaveFile("Create .exe", SelfExtractorFilter(),
                                       kSelfExtractorExtension + 1, output);
        if (!chosen) return false;
        output = *chosen;
    }
    SfxCallbacks callbacks;
    callbacks.run_program = [](const std::string& program, const std::string& path) {
        ProgramRequest request;
        request.program = program;
        request.arguments = {IsMzProgram(program) ? WindowsPath(path) : path};
        ProgramResult run = RunProgram(request);
        if (run.outcome == ProgramResult::Outcome::kNotStarted) return -1;
        return run.outcome == ProgramResult::Outcome::kExited ? run.exit_status : 128 + run.signal_number;
    };
    SfxOutcome outcome = MakeSelfExtractor(*handler, output, callbacks, message);
    if (outcome == SfxOutcome::Created) prompts_->ShowMessage(message);
    else if (outcome == SfxOutcome::Failed) frame_->ShowError(message);
    return outcome == SfxOutcome::Created || outcome == SfxOutcome::ExternalDone;
}

bool CQuorbelApp::CarryOutShellCommand(const ShellCommandBlock& block) {
    if (block.paths.empty() || !frame_) return false;
    const std::string& first = block.paths.front();
    switch (block.type) {
        case 0: {
            auto target = files_->SaveFile("Add To", kAddToFilter, "ZIP", FolderOfPath(first));
            return target && AddPathsToArchive(*target, block.paths);
        }
        case 1: return AddPathsToArchive(WithoutExtension(first) + ".zip", block.paths);
        case 2: {
            auto folder = prompts_->ChooseFolder(UiText("Extract To", "Extraire vers").toStdString(),
                                                 WithoutExtension(first));
            return folder && ExtractArchiveTo(first, *folder);
        }
        case 3: return ExtractArchiveTo(first, WithoutExtension(first));
        case 4: return MakeSelfExtractorOf(first);
        case 5: return frame_->OpenDocumentFile(first) != nullptr;
        case 6: {
            if (!frame_->OpenDocumentFile(first)) return false;
            frame_->SendMail();
            return true;
        }
        case 7: {
            auto folder = prompts_->ChooseFolder(UiText("Spanning", "Multi-disques").toStdString(),
                                                 FolderOfPath(first));
            if (!folder) return false;
            int status = 0;
            std::string message;
            auto handler = OpenArchiveFile(first, status, &frame_->Progress(), &message);
            if (!handler) {
                if (status != kStatusAborted) frame_->ShowError(message);
                return false;
            }
            status = zip::SpanArchive(*handler, *folder + "/" + FileNameOfPath(first), 0);
            if (status != kStatusOk && status != kStatusAborted) frame_->ShowError(handler->LastMessage());
            return status == kStatusOk;
        }
        default: {
            // Self-extractors (4) are an operation this build lacks.
            int status = 0;
            std::string message;
            auto handler = OpenArchiveFile(first, status, &frame_->Progress(), &message);
            frame_->ShowError(FormatText(StringById(61613).c_str(),
                                         handler ? handler->FormatName().c_str() : "?"));
            return false;
        }
    }
}

}  // namespace quorbel
