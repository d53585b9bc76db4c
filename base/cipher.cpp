#include "base/cipher.h"

namespace nv {

uint32_t keyFromText(std::string_view text) {
    uint32_t key = 4321;
    for (unsigned char b : text)
        key += 9u * b;
    return key;
}

std::string cryptText(std::string_view data, uint32_t key, uint32_t& state) {
    state = key;
    std::string out(data.size(), '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        state = nextRandomState(state);
        const auto r = static_cast<uint32_t>((uint64_t{state} * 254u) >> 32);
        out[i] = static_cast<char>(static_cast<unsigned char>(r + 1) ^
                                   static_cast<unsigned char>(data[i]));
    }
    return out;
}

} // namespace nv
