// Questions that need a person, and the start of other programs. The core and the formats ask
// through these interfaces; the application answers with dialogs, the command line with the
// terminal and its flags, tests with scripted answers.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace quorbel {

class UserPrompts {
public:
    enum class Overwrite { Yes, No, All, None };

    virtual ~UserPrompts() = default;
    // A yes/no confirmation; the default answer of a non-interactive run is No.
    virtual bool AskYesNo(const std::string& message) = 0;
    // Replace an existing file? All / None also answer the questions that follow.
    virtual Overwrite AskOverwrite(const std::string& message) = 0;
    virtual std::optional<std::string> AskPassword(const std::string& message) = 0;
    // "Insert the next disk": true when the user is ready, false to cancel.
    virtual bool AskNextDisk(const std::string& message) = 0;
    virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                    const std::string& start) = 0;
    // A message that must be seen at once (a missing external program, for example).
    virtual void ShowMessage(const std::string& message) = 0;
};

// Answers nobody: No, no password, no folder. What a run without a person gets.
class NoPrompts : public UserPrompts {
public:
    bool AskYesNo(const std::string&) override { return false; }
    Overwrite AskOverwrite(const std::string&) override { return Overwrite::No; }
    std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
    bool AskNextDisk(const std::string&) override { return false; }
    std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void ShowMessage(const std::string&) override {}
};

// Answers from a list, in order: "yes", "no", "all", "none", "password:TEXT", "folder:PATH",
// "cancel". Questions beyond the list get No. Every question asked is kept for inspection.
class ScriptedPrompts : public UserPrompts {
public:
    explicit ScriptedPrompts(std::vector<std::string> answers);
    // The answers of $QUORBEL_PROMPT_ANSWERS, separated by newlines or ';'.
    static ScriptedPrompts FromEnvironment();

    bool AskYesNo(const std::string& message) override;
    Overwrite AskOverwrite(const std::string& message) override;
    std::optional<std::string> AskPassword(const std::string& message) override;
    bool AskNextDisk(const std::string& message) override;
    std::optional<std::string> ChooseFolder(const std::string& title,
                                            const std::string& start) override;
    void ShowMessage(const std::string& message) override { asked_.push_back(message); }

    const std::vector<std::string>& Asked() const { return asked_; }

private:
    std::optional<std::string> Next(const std::string& question);
    std::deque<std::string> answers_;
    std::vector<std::string> asked_;
};

// Scripted answers as one text, separated by newlines or ';'; empty items are kept only when
// asked (an empty answer can mean a cancelled dialog).
std::vector<std::string> SplitAnswers(const char* text, bool keep_empty);

UserPrompts& Prompts();
// Installs the program-wide prompts (not owned); nullptr restores NoPrompts.
void SetPrompts(UserPrompts* prompts);

// Starting other programs: the associated program of a file, the file browser, mail.
class Launcher {
public:
    virtual ~Launcher() = default;
    virtual bool OpenWithAssociatedProgram(const std::string& path) = 0;
    virtual bool OpenFolder(const std::string& path) = 0;
    virtual bool SendMail(const std::string& attachment) = 0;
    // Starts a drag-and-drop of these files at the pointer; false when nothing can be dragged.
    virtual bool StartDrag(const std::vector<std::string>& paths) = 0;
    // Starts a program (argv[0]) without waiting, in `working_folder` when given.
    virtual bool StartProgram(const std::vector<std::string>& argv,
                              const std::string& working_folder) = 0;
};

// Through xdg-open and xdg-email, without waiting.
class DesktopLauncher : public Launcher {
public:
    bool OpenWithAssociatedProgram(const std::string& path) override;
    bool OpenFolder(const std::string& path) override;
    bool SendMail(const std::string& attachment) override;
    bool StartDrag(const std::vector<std::string>& paths) override;
    bool StartProgram(const std::vector<std::string>& argv,
                      const std::string& working_folder) override;
};

// Records what would have been started; used where no desktop program may run.
class RecordingLauncher : public Launcher {
public:
    bool OpenWithAssociatedProgram(const std::string& path) override;
    bool OpenFolder(const std::string& path) override;
    bool SendMail(const std::string& attachment) override;
    bool StartDrag(const std::vector<std::string>& paths) override;
    bool StartProgram(const std::vector<std::string>& argv,
                      const std::string& working_folder) override;
    std::vector<std::string> calls;
    bool result = true;
};

Launcher& CurrentLauncher();
// Installs the program-wide launcher (not owned); nullptr restores the desktop launcher.
void SetLauncher(Launcher* launcher);

}  // namespace quorbel
