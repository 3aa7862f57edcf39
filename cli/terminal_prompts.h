// The command line's answers to questions: flags decide, so nothing waits for a person unless
// a question has no flag (the next disk of a set); existing files are skipped and reported.
#pragma once

#include "core/user_prompts.h"

namespace quorbel::cli {

class TerminalPrompts : public UserPrompts {
public:
    bool AskYesNo(const std::string& message) override;
    Overwrite AskOverwrite(const std::string& message) override;
    std::optional<std::string> AskPassword(const std::string& message) override;
    bool AskNextDisk(const std::string& message) override;
    std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start) override;
    void ShowMessage(const std::string& message) override;
};

}  // namespace quorbel::cli
