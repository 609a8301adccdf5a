#include "image/guitools.h"

namespace tessera {
void GrayImage::ToRgbLine(int, uint8_t*) const {}
}  // namespace tessera
