// The application object: start-up (normal run, hand-over to a running instance, shell
// commands), the command-line handling, and the end of the run.
#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/startup.h"

class QSocketNotifier;

namespace quorbel {

class CMainFrame;
class FileChooser;
class UserPrompts;
class Launcher;
class InstanceLock;
class ActivationSocket;
struct ShellCommandBlock;

class CQuorbelApp : public QObject {
    Q_OBJECT
public:
    // `running_program` is the path of this executable; `arguments` the command line after it.
    CQuorbelApp(std::string running_program, std::vector<std::string> arguments);
    ~CQuorbelApp() override;

    // Runs start-up. True when the main window is up and the event loop should run; false when
    // the program ends now (handed over, or nothing to run), with ExitCode().
    bool Start();
    int ExitCode() const { return exit_code_; }

    void ProcessCommandLine(const std::string& text, bool from_running_instance);
    // Carries out one shell command; false when the archive could not be opened or made.
    bool CarryOutShellCommand(const ShellCommandBlock& block);
    // Shell command type 4: the archive's self-extractor beside it.
    bool MakeSelfExtractorOf(const std::string& archive);

    CMainFrame* MainFrame() const { return frame_.get(); }
    const InstallVerdict& Installation() const { return verdict_; }
    const std::string& CommandLine() const { return command_line_; }
    // Replaces the dialogs (tests); the objects are not owned.
    void SetInteraction(UserPrompts* prompts, FileChooser* files);

private:
    void OnActivation();
    bool AddPathsToArchive(const std::string& archive, const std::vector<std::string>& paths);
    bool ExtractArchiveTo(const std::string& archive, const std::string& folder);

    std::string running_program_;
    std::string command_line_;
    StartSwitch switch_ = StartSwitch::None;
    InstallVerdict verdict_;
    int exit_code_ = 0;
    std::unique_ptr<UserPrompts> own_prompts_;
    std::unique_ptr<FileChooser> own_files_;
    std::unique_ptr<Launcher> own_launcher_;
    UserPrompts* prompts_ = nullptr;
    FileChooser* files_ = nullptr;
    std::unique_ptr<InstanceLock> lock_;
    std::unique_ptr<ActivationSocket> socket_;
    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<ShellCommandBlock> shell_block_;
    std::unique_ptr<CMainFrame> frame_;
    bool wrote_instance_record_ = false;
    bool ended_ = false;
};

}  // namespace quorbel
