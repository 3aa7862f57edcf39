#include "picture/codecs/glimmer_codecs.h"

namespace quorbel {

CGlcFormat::CGlcFormat()
    : CGraphicsFormat("GLC", "Glimmer Composition (GLC)", "GLC - Glimmer Composition (*.glc)|*.glc|") {}
CGlsFormat::CGlsFormat()
    : CGraphicsFormat("GLS", "Glimmer Sprite (GLS)", "GLS - Glimmer Sprite (*.gls)|*.gls|") {}
bool CGlcFormat::Load() { return false; }
bool CGlcFormat::ReadInfo() { return false; }
bool CGlsFormat::Load() { return false; }
bool CGlsFormat::ReadInfo() { return false; }
std::vector<uint8_t> EncodeGlc(const CPicture&) { return {}; }
std::vector<uint8_t> EncodeGls(const CPicture&) { return {}; }

}  // namespace quorbel
