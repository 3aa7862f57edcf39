#include "picture/codecs/packbits.h"

#include <cstring>

namespace quorbel {

size_t PackBitsDecode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity) {
    size_t in = 0, produced = 0;
    while (in < size && produced < capacity) {
        const int control = int8_t(data[in++]);
        if (control >= 0) {
            const size_t wanted = size_t(control) + 1;
            size_t n = wanted;
            if (n > size - in) n = size - in;
            if (n > capacity - produced) n = capacity - produced;
            std::memcpy(out + produced, data + in, n);
            in += wanted;
            produced += n;
        } else if (control != -128) {
            if (in >= size) break;
            size_t n = size_t(1 - control);
            if (n > capacity - produced) n = capacity - produced;
            std::memset(out + produced, data[in++], n);
            produced += n;
        }
    }
    return produced;
}

}  // namespace quorbel
