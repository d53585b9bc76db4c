// The script cipher: a byte-wise XOR stream driven by the program's single pseudo-random
// generator. The same call enciphers and deciphers. Used by Build, by the start-up of a
// built program and by `include(` with a password.
//
// Threading: user-interface thread (the generator state is shared with random()).
// Errors: none; any byte string, zero bytes included, is valid input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nv {

// One step of the program's linear congruential generator.
inline uint32_t nextRandomState(uint32_t s) {
    return s * 134775813u + 1u;
}

// 4321 plus 9 times each byte, modulo 2^32.
uint32_t keyFromText(std::string_view text);

// Sets `state` to the key, then XORs each byte with 1 + the high word of state*254 after
// advancing the state once per byte. Leaves `state` advanced.
std::string cryptText(std::string_view data, uint32_t key, uint32_t& state);

} // namespace nv
