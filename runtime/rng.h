// The runtime's one pseudo-random generator: a Mersenne twister of 624 words, seeded with a fixed
// value at start-up so that a fresh process always draws the same sequence until it is seeded
// again, and a secure source (the system's getrandom) for `random/secure`. Every draw is a 31-bit
// non-negative integer. The twister's right shifts are arithmetic (sign-extending) shifts of
// signed words, so its sequences differ from the textbook MT19937 after the seed words.
// The namespace is not `random`: the C library declares a function of that name.
#pragma once
#include <cstdint>

namespace rng {

void init();  // seeds the state with 19650218

// s[0] = seed, s[i] = 0x6C078965 * (s[i-1] ^ (s[i-1] >> 30)) + i; the next draw tempers s[0].
void seed(uint32_t value);

int32_t next_mt();     // 0 .. 2^31-1
int32_t secure_int();  // 0 .. 2^31-1 from the system's secure source
inline int32_t draw(bool secure) { return secure ? secure_int() : next_mt(); }

// 1..n for n > 0, -1..-n for n < 0, 0 for 0; uniform: draws at or above the largest multiple
// of |n| are drawn again.
int32_t int_range(bool secure, int32_t n);

}  // namespace rng
