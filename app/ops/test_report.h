// The Test command: every file member is unpacked in memory and judged by its status.
#pragma once

#include <ctime>
#include <string>

#include "core/archive_handler.h"

namespace quorbel {

struct TestReport {
    std::string text;  // the whole report as the message window shows it
    int tested = 0;    // report lines
    int errors = 0;    // lines whose status is neither OK nor a missing password
    bool aborted = false;
};

// The status text of one test line for an UnpackEntry status.
std::string TestStatusText(int status, const ArchiveHandler& handler);

// Tests every file entry of the handler in index order; `now` stamps the title line.
TestReport RunTest(ArchiveHandler& handler, std::time_t now);

}  // namespace quorbel
