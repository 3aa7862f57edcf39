#include "core/user_prompts.h"

#include <cstdlib>

#include "platform/process.h"

namespace quorbel {

ScriptedPrompts::ScriptedPrompts(std::vector<std::string> answers)
    : answers_(answers.begin(), answers.end()) {}

std::vector<std::string> SplitAnswers(const char* text, bool keep_empty) {
    std::vector<std::string> answers;
    std::string current;
    for (const char* p = text ? text : "";; ++p) {
        if (*p == '\n' || *p == ';' || *p == 0) {
            if (keep_empty || !current.empty()) answers.push_back(current);
            current.clear();
            if (*p == 0) break;
        } else {
            current += *p;
        }
    }
    return answers;
}

ScriptedPrompts ScriptedPrompts::FromEnvironment() {
    return ScriptedPrompts(SplitAnswers(std::getenv("QUORBEL_PROMPT_ANSWERS"), false));
}

std::optional<std::string> ScriptedPrompts::Next(const std::string& question) {
    asked_.push_back(question);
    if (answers_.empty()) return std::nullopt;
    std::string answer = answers_.front();
    answers_.pop_front();
    return answer;
}

bool ScriptedPrompts::AskYesNo(const std::string& message) {
    auto a = Next(message);
    return a && (*a == "yes" || *a == "y");
}

UserPrompts::Overwrite ScriptedPrompts::AskOverwrite(const std::string& message) {
    auto a = Next(message);
    if (!a) return Overwrite::No;
    if (*a == "yes" || *a == "y") return Overwrite::Yes;
    if (*a == "all") return Overwrite::All;
    if (*a == "none") return Overwrite::None;
    return Overwrite::No;
}

std::optional<std::string> ScriptedPrompts::AskPassword(const std::string& message) {
    auto a = Next(message);
    if (a && a->rfind("password:", 0) == 0) return a->substr(9);
    return std::nullopt;
}

bool ScriptedPrompts::AskNextDisk(const std::string& message) {
    auto a = Next(message);
    return a && (*a == "yes" || *a == "y" || *a == "ok");
}

std::optional<std::string> ScriptedPrompts::ChooseFolder(const std::string& title,
                                                         const std::string&) {
    auto a = Next(title);
    if (a && a->rfind("folder:", 0) == 0) return a->substr(7);
    return std::nullopt;
}

namespace {
NoPrompts g_no_prompts;
UserPrompts* g_prompts = &g_no_prompts;
DesktopLauncher g_desktop_launcher;
Launcher* g_launcher = &g_desktop_launcher;
}  // namespace

UserPrompts& Prompts() { return *g_prompts; }
void SetPrompts(UserPrompts* prompts) { g_prompts = prompts ? prompts : &g_no_prompts; }

bool DesktopLauncher::OpenWithAssociatedProgram(const std::string& path) {
    return StartDetached({"xdg-open", path});
}
bool DesktopLauncher::OpenFolder(const std::string& path) { return StartDetached({"xdg-open", path}); }
bool DesktopLauncher::SendMail(const std::string& attachment) {
    return StartDetached({"xdg-email", "--attach", attachment});
}

// Without a window system there is nothing to drag onto.
bool DesktopLauncher::StartDrag(const std::vector<std::string>&) { return false; }

bool DesktopLauncher::StartProgram(const std::vector<std::string>& argv,
                                   const std::string& working_folder) {
    return StartDetached(argv, working_folder);
}

bool RecordingLauncher::StartProgram(const std::vector<std::string>& argv,
                                     const std::string& working_folder) {
    std::string call = "run";
    for (const auto& a : argv) call += " " + a;
    if (!working_folder.empty()) call += " (in " + working_folder + ")";
    calls.push_back(call);
    return result;
}

bool RecordingLauncher::StartDrag(const std::vector<std::string>& paths) {
    std::string call = "drag";
    for (const auto& p : paths) call += " " + p;
    calls.push_back(call);
    return result;
}

bool RecordingLauncher::OpenWithAssociatedProgram(const std::string& path) {
    calls.push_back("open " + path);
    return result;
}
bool RecordingLauncher::OpenFolder(const std::string& path) {
    calls.push_back("folder " + path);
    return result;
}
bool RecordingLauncher::SendMail(const std::string& attachment) {
    calls.push_back("mail " + attachment);
    return result;
}

Launcher& CurrentLauncher() { return *g_launcher; }
void SetLauncher(Launcher* launcher) { g_launcher = launcher ? launcher : &g_desktop_launcher; }

}  // namespace quorbel
