// The Mersenne twister with arithmetic right shifts, and the ranges drawn from it without modulo
// bias. The state lives here for the whole process: nothing allocates, so a draw never collects.
#include "runtime/rng.h"

#include "platform/os/platform.h"
#include "runtime/throw.h"

namespace rng {

namespace {

constexpr int kWords = 624;
constexpr int kShift = 397;
constexpr uint32_t kStartSeed = 19650218;  // 0x12BD6AA

uint32_t state[kWords];
int index = kWords;

// The sign-extending right shift of the word read as a signed 32-bit integer.
inline uint32_t sar(uint32_t word, int bits) {
  return static_cast<uint32_t>(static_cast<int32_t>(word) >> bits);
}

void regenerate() {
  for (int i = 0; i < kWords; i++) {
    uint32_t y = (state[i] & 0x80000000u) | (state[(i + 1) % kWords] & 0x7FFFFFFFu);
    state[i] = state[(i + kShift) % kWords] ^ sar(y, 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
  }
  index = 0;
}

}  // namespace

void init() { seed(kStartSeed); }

void seed(uint32_t value) {
  state[0] = value;
  for (uint32_t i = 1; i < kWords; i++) {
    state[i] = 0x6C078965u * (state[i - 1] ^ sar(state[i - 1], 30)) + i;
  }
  index = 0;
}

int32_t next_mt() {
  if (index == kWords) regenerate();
  uint32_t y = state[index++];
  y ^= sar(y, 11);
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= sar(y, 18);  // clears bit 31: bit 31 is xored with its own copy
  return static_cast<int32_t>(y);
}

int32_t secure_int() {
  uint32_t word;
  if (!platform::secure_random_bytes(&word, sizeof word)) rt::fire_error("internal", "feature-na");
  return static_cast<int32_t>(word & 0x7FFFFFFFu);
}

int32_t int_range(bool secure, int32_t n) {
  if (n == 0) return 0;
  if (n == INT32_MIN) return -1 - draw(secure);  // |n| is past the draws: one draw, no rejection
  int32_t m = n < 0 ? -n : n;
  int32_t limit = (0x7FFFFFFF / m) * m;
  int32_t r;
  do r = draw(secure);
  while (r >= limit);
  r = r % m + 1;
  return n < 0 ? -r : r;
}

}  // namespace rng
