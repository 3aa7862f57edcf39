#include "picture/picture_ops.h"

namespace quorbel {
}  // namespace quorbel
