#include "support/randombelow.h"

namespace tessera {

uint32_t RandomBelow::operator()(uint32_t m) {
    if (m == 0) return 0;               // no draw: the sequence does not move
    state_ = state_ * kMultiplier + 1;  // modulo 2^64 by unsigned wrap-around
    ++draws_;
    const uint32_t value = static_cast<uint32_t>(state_ >> 32) & 0x7fffffffu;
    return value % m;
}

}  // namespace tessera
