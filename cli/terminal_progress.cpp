#include "cli/terminal_progress.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace quorbel::cli {

namespace {
TerminalProgress* g_active = nullptr;
volatile std::sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) {
    g_interrupts = g_interrupts + 1;
    if (g_interrupts > 1) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    if (g_active) g_active->RequestCancel();
}
}  // namespace

TerminalProgress::TerminalProgress(bool draw) : draw_(draw) {}

TerminalProgress::~TerminalProgress() {
    Clear();
    if (g_active == this) {
        std::signal(SIGINT, SIG_DFL);
        g_active = nullptr;
    }
}

void TerminalProgress::CatchInterrupt() {
    g_active = this;
    std::signal(SIGINT, OnInterrupt);
}

int TerminalProgress::SetPos(int64_t position, bool redraw) {
    if (abort_after_ >= 0 && ++calls_ > abort_after_) RequestCancel();
    // A Ctrl-C that came before the operation began still counts.
    if (g_interrupts > 0) RequestCancel();
    return ProgressSink::SetPos(position, redraw);
}

void TerminalProgress::Clear() {
    if (shown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }
}

void TerminalProgress::Refresh() {
    ProgressSink::Refresh();
    if (!draw_) return;
    if (Depth() == 0) {
        Clear();
        last_percent_ = -1;
        return;
    }
    int64_t span = Maximum() - Minimum();
    int percent = span > 0 ? int((Position() - Minimum()) * 100 / span) : 0;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    if (percent == last_percent_) return;
    last_percent_ = percent;
    const int width = 30;
    std::string bar(size_t(percent * width / 100), '#');
    bar.resize(width, '.');
    std::string text = Text();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    std::fprintf(stderr, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent, text.c_str());
    std::fflush(stderr);
    shown_ = true;
}

}  // namespace quorbel::cli
