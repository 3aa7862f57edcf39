// Helpers of the run-length codec tests: peers' renders through netpbm, loading bytes under a
// name, and the truncation check every sample goes through.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/data_stream.h"
#include "picture/format_registry.h"
#include "picture/picture_test_util.h"
#include "support/test_support.h"

namespace quorbel::test {

// Runs a shell pipeline whose output is any portable anymap and reads it as a picture.
inline bool PeerRender(const std::string& pipeline, CPicture& picture) {
    CommandResult r = Run({"sh", "-c", pipeline + " | ppmtoppm | pamdepth 255"});
    return r.exit_code == 0 && PictureFromPpm(r.out, picture);
}

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

// The dispatcher on bytes in memory named `name`; the short name of the codec that took them
// ("" when none did).
inline std::string LoadNamed(const std::string& bytes, const std::string& name, CPicture& picture) {
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName(name);
    const CGraphicsFormat* chosen = nullptr;
    if (!LoadFromStream(s, &picture, nullptr, true, nullptr, nullptr, nullptr, nullptr, &chosen)) return "";
    return chosen ? chosen->ShortName() : "?";
}

// One codec on bytes in memory.
inline bool LoadWith(const std::string& short_name, const std::string& bytes, CPicture& picture,
                     const std::string& name = "Memory") {
    auto codec = MakePictureFormat(short_name);
    if (!codec) return false;
    DataStream s;
    s.AttachMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    s.SetName(name);
    return codec->LoadPicture(s, picture, nullptr);
}

// Feeds the codec the bytes cut at many lengths: a cut file either fails or (when only unused
// trailing bytes were cut) gives exactly the whole file's picture; it never reads what is not
// there (the sanitizer build checks that).
// Plain-text files may lose digits of their last sample and still be whole files: with
// `last_sample_text`, the last pixel may differ.
inline void ExpectTruncationsFailOrMatch(const std::string& short_name, const std::string& bytes,
                                         bool last_sample_text = false) {
    CPicture whole;
    ASSERT_TRUE(LoadWith(short_name, bytes, whole)) << short_name;
    const size_t size = bytes.size();
    const size_t step = size > 3000 ? size / 700 + 1 : 1;
    for (size_t length = 0; length < size; length += (length < 200 || length + 200 > size) ? 1 : step) {
        CPicture cut;
        if (LoadWith(short_name, bytes.substr(0, length), cut)) {
            if (last_sample_text && cut.Width() == whole.Width() && cut.Height() == whole.Height()) {
                Bgr last;
                whole.GetPixel(whole.Width() - 1, whole.Height() - 1, last);
                cut.SetPixel(cut.Width() - 1, cut.Height() - 1, last);
            }
            EXPECT_EQ(MaxDifference(cut, whole), 0) << short_name << " cut at " << length << " of " << size;
        }
    }
}

}  // namespace quorbel::test
