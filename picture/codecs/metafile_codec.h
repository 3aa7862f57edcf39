// Windows metafiles (WMF, with or without the placeable header) and enhanced metafiles (EMF):
// two record front ends that play onto the one software renderer. They work from the bytes, so
// metafiles held in memory (archive members) load as well as files do.
//
// Sizes: an EMF covers its bounds rectangle, edges included (right - left + 1 pixels); a
// placeable WMF is rendered at 96 dots per inch from its bounding box; a plain WMF takes the
// extent of its first window record (1 unit = 1 pixel), or, without one, the extent of what it
// draws. Whatever is larger than MetafileRenderer::kMaxSide (2048) on its longer side is scaled
// down to fit, keeping its proportions.
#pragma once

#include <cstdint>
#include <string>

#include "picture/graphics_format.h"

namespace quorbel {

// What one play found.
struct MetafilePlay {
    int width = 0, height = 0;   // the picture's size
    int records = 0;             // records played
    int text_skipped = 0;        // text records, which the renderer does not draw
    bool work_exhausted = false; // drawing stopped at the renderer's work limit
};

// The metafile in `data` (header checks, picture size); rendered into `picture` when it is not
// null. The sink (may be null) gets the progress and may cancel (EGraphicsAbort).
bool PlayEmf(const uint8_t* data, size_t size, CPicture* picture, ProgressSink* sink, MetafilePlay& play);
// `placeable` says which of the two WMF kinds the data is.
bool PlayWmf(const uint8_t* data, size_t size, CPicture* picture, ProgressSink* sink, MetafilePlay& play,
             bool* placeable = nullptr);

class CWmfFormat : public CGraphicsFormat {
public:
    CWmfFormat();
    bool Load() override;
    bool ReadInfo() override;
    const MetafilePlay& LastPlay() const { return play_; }

private:
    MetafilePlay play_;
};

class CEmfFormat : public CGraphicsFormat {
public:
    CEmfFormat();
    bool Load() override;
    bool ReadInfo() override;
    const MetafilePlay& LastPlay() const { return play_; }

private:
    MetafilePlay play_;
};

}  // namespace quorbel
