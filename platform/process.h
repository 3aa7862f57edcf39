// Starting programs without a shell: each element of argv is exactly one argument.
#pragma once

#include <string>
#include <vector>

namespace quorbel {

// Starts the program and returns at once; the child is not left as a zombie. False when it
// could not be started (not on PATH, not executable).
bool StartDetached(const std::vector<std::string>& argv, const std::string& working_folder = "");

// Starts the program and waits for it; its exit code, or -1 when it could not be started.
int RunAndWait(const std::vector<std::string>& argv, const std::string& working_folder = "");

}  // namespace quorbel
