#include "cli/terminal_prompts.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "cli/text_out.h"

namespace quorbel::cli {

namespace {
// A line typed at the terminal, or none when nobody is there to type it.
std::optional<std::string> AskLine(const std::string& question) {
    if (!isatty(STDIN_FILENO)) return std::nullopt;
    StandardError() << question << " ";
    StandardError().Flush();
    char* buffer = nullptr;
    size_t capacity = 0;
    const ssize_t length = getline(&buffer, &capacity, stdin);
    std::optional<std::string> line;
    if (length >= 0) line.emplace(buffer, size_t(length));
    std::free(buffer);
    if (line && !line->empty() && line->back() == '\n') line->pop_back();
    return line;
}
}  // namespace

bool TerminalPrompts::AskYesNo(const std::string& message) {
    auto line = AskLine(message + " [y/N]");
    return line && (*line == "y" || *line == "Y" || *line == "yes");
}

UserPrompts::Overwrite TerminalPrompts::AskOverwrite(const std::string&) {
    // --overwrite is how a script asks for replacement; without it files are kept.
    return Overwrite::No;
}

std::optional<std::string> TerminalPrompts::AskPassword(const std::string&) {
    return std::nullopt;  // the password comes from --password
}

bool TerminalPrompts::AskNextDisk(const std::string& message) {
    // A script answers the disk questions in order through QUORBEL_PROMPT_ANSWERS.
    if (std::getenv("QUORBEL_PROMPT_ANSWERS")) {
        static ScriptedPrompts scripted = ScriptedPrompts::FromEnvironment();
        StandardError() << message << "\n";
        return scripted.AskNextDisk(message);
    }
    auto line = AskLine(message + " [Enter = ready, q = cancel]");
    return line && *line != "q" && *line != "Q";
}

std::optional<std::string> TerminalPrompts::ChooseFolder(const std::string& title, const std::string&) {
    auto line = AskLine(title);
    if (!line || line->empty()) return std::nullopt;
    return line;
}

void TerminalPrompts::ShowMessage(const std::string& message) { StandardError() << message << "\n"; }

}  // namespace quorbel::cli
