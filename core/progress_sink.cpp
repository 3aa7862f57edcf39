#include "core/progress_sink.h"

#include "core/messages.h"

namespace quorbel {

uint64_t ProgressStep(uint64_t count) {
    // Digit by digit, two bits at a time: no floating point, exact for every count.
    uint64_t root = 0;
    for (uint64_t bit = uint64_t(1) << 62; bit != 0; bit >>= 2) {
        if (count >= root + bit) {
            count -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
    }
    return root + 1;
}

int ProgressSink::Begin() {
    if (depth_++ == 0) {
        minimum_ = 0;
        maximum_ = 100;
        position_ = 0;
        cancelled_ = false;
        text_ = "Working...";
        dirty_ = true;
        Refresh();
    }
    return depth_;
}

void ProgressSink::End(int force) {
    if (depth_ > 0) --depth_;
    if (depth_ > 0 && !force) return;
    depth_ = 0;
    dirty_ = true;
    Refresh();
}

void ProgressSink::SetRange(int64_t minimum, int64_t maximum, bool redraw) {
    if (depth_ == 0) return;
    minimum_ = minimum;
    maximum_ = maximum == minimum ? minimum + 1 : maximum;
    dirty_ = true;
    if (redraw) Refresh();
}

int ProgressSink::SetPos(int64_t position, bool redraw) {
    if (depth_ > 0 && position != position_) {
        position_ = position;
        dirty_ = true;
        if (redraw) Refresh();
    }
    return cancelled_ ? 0 : 1;
}

void ProgressSink::SetText(const std::string& text, bool redraw) {
    if (depth_ == 0 || text == text_) return;
    text_ = text;
    dirty_ = true;
    if (redraw) Refresh();
}

void ProgressSink::Refresh() { dirty_ = false; }

void ProgressSink::SetTextById(int string_id, bool redraw) { SetText(StringById(string_id), redraw); }

ProgressSink& SilentSink() {
    static ProgressSink sink;
    return sink;
}

}  // namespace quorbel
