// A progress sink for the terminal: a bar on stderr when it is a terminal, and Ctrl-C as the
// cancel button.
#pragma once

#include "core/progress_sink.h"

namespace quorbel::cli {

class TerminalProgress : public ProgressSink {
public:
    explicit TerminalProgress(bool draw);
    ~TerminalProgress() override;
    void Refresh() override;
    int SetPos(int64_t position, bool redraw = true) override;

    // Installs the Ctrl-C handler that asks this sink to stop; a second Ctrl-C ends the
    // program at once.
    void CatchInterrupt();
    // Stops by itself after `calls` SetPos calls (for scripted cancellation in tests).
    void AbortAfter(long calls) { abort_after_ = calls; }

private:
    void Clear();
    bool draw_;
    int last_percent_ = -1;
    bool shown_ = false;
    long abort_after_ = -1;
    long calls_ = 0;
};

}  // namespace quorbel::cli
