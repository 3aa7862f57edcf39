// Operations on whole pictures after loading: the fast nearest-neighbour scaler, the smooth
// resize (separable passes, exact halving), grey conversion and alpha blending. They keep the
// picture's depth, description and source name, report through the sink (null: silent) and
// return false when the user cancels or a size is refused (below 1 or beyond CPicture's limits);
// a picture changed in place is then left as it was.
#pragma once

#include "core/progress_sink.h"
#include "picture/picture.h"

namespace quorbel {

// Nearest neighbour: destination pixel (x, y) takes source (x * sw / w, y * sh / h), integer
// arithmetic, so no index passes the last column or row. Alpha is scaled with the colours.
bool ScaleFast(CPicture& destination, const CPicture& source, int width, int height,
               ProgressSink* sink);
bool ScaleFastInPlace(CPicture& picture, int width, int height, ProgressSink* sink);
// Linear interpolation when a side grows, averaging of the covered samples when it shrinks;
// an exact half in both directions goes through HalveSmooth.
bool ResizeSmooth(CPicture& picture, int width, int height, ProgressSink* sink);
// (width / 2, height / 2), each pixel the truncated mean of its 2 x 2 block (a last column or
// row standing in for a missing neighbour); false for a side below 2.
bool HalveSmooth(CPicture& picture);
// Every pixel (r + g + b) / 3 in all channels; a 256-entry grey palette.
void ToGrey(CPicture& picture);
// Draws the source onto the destination with its top-left corner at (x, y), clipped to the
// destination; the source's alpha plane weighs each pixel. Without an alpha plane and at (0, 0)
// with the same size the result is a copy. False for an empty picture on either side.
bool BlendOnto(CPicture& destination, const CPicture& source, int x = 0, int y = 0);
// The destination's alpha plane from the grey source's red channel; sizes must match.
bool AlphaFromGrey(CPicture& destination, const CPicture& grey_source);
// Fills the picture with a board of square x square cells alternating two colours, starting
// with `first` at the top-left (thumbnail backgrounds, transparency display).
void FillCheckerboard(CPicture& picture, int square, Bgr first, Bgr second);

}  // namespace quorbel
