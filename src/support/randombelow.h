#pragma once
#include <cstdint>

namespace tessera {

// The program's one pseudo-random sequence (segment and class colours). The state starts at 1
// and is never reseeded, so the colours of a run depend only on how many draws came before.
class RandomBelow {
  public:
    // An integer in 0..m-1; 0 without a draw when m is 0.
    uint32_t operator()(uint32_t m);
    uint64_t State() const { return state_; }
    uint64_t DrawCount() const { return draws_; }

    static constexpr uint64_t kMultiplier = (uint64_t{346} << 32) | 20021u;

  private:
    uint64_t state_ = 1;
    uint64_t draws_ = 0;
};

}  // namespace tessera
