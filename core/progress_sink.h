// Progress and cancellation of long operations. The base class is the silent sink; concrete
// sinks (status bar, terminal bar) repaint in Refresh and raise the cancelled flag there.
#pragma once

#include <cstdint>
#include <string>

namespace quorbel {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;

    // Nested operations pair Begin/End; only the outermost Begin resets the display.
    virtual int Begin();
    // Ends one level; force ends every level at once.
    virtual void End(int force);
    virtual void SetRange(int64_t minimum, int64_t maximum, bool redraw = true);
    // Returns 0 once the user asked to stop (callers then abandon their work), else 1.
    virtual int SetPos(int64_t position, bool redraw = true);
    virtual void SetText(const std::string& text, bool redraw = true);
    virtual void Refresh();

    void SetTextById(int string_id, bool redraw = true);

    // Raised by a concrete sink (Ctrl-C, the cancel button); cleared by the outermost Begin.
    void RequestCancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    int Depth() const { return depth_; }
    const std::string& Text() const { return text_; }
    int64_t Minimum() const { return minimum_; }
    int64_t Maximum() const { return maximum_; }
    int64_t Position() const { return position_; }

protected:
    bool dirty_ = false;
    volatile bool cancelled_ = false;

private:
    int depth_ = 0;
    std::string text_ = "Working...";
    int64_t minimum_ = 0;
    int64_t maximum_ = 100;
    int64_t position_ = 0;
};

// The program-wide silent sink that stands in wherever a caller supplies none.
ProgressSink& SilentSink();

// How often a loop over `count` items reports its position: every n-th item, n being the
// whole square root of the count plus one, so that large counts cost few repaints and small
// ones still move.
uint64_t ProgressStep(uint64_t count);

// Begin on construction, End(0) on every way out of the scope.
class ProgressScope {
public:
    explicit ProgressScope(ProgressSink* sink) : sink_(sink) { sink_->Begin(); }
    ~ProgressScope() { sink_->End(0); }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    ProgressSink* sink_;
};

// Installs a sink for the lifetime of the object and restores the previous one.
template <typename Holder>
class ScopedSink {
public:
    ScopedSink(Holder& holder, ProgressSink* sink) : holder_(holder), old_(holder.Sink()) {
        holder_.SetSink(sink);
    }
    ~ScopedSink() { holder_.SetSink(old_); }

private:
    Holder& holder_;
    ProgressSink* old_;
};

}  // namespace quorbel
