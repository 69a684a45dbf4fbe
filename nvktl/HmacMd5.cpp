#include "nvktl/HmacMd5.h"

#include <cstring>

namespace NVKTL {

CMd5::Digest HmacMd5(std::string_view key, std::string_view text) {
    constexpr std::size_t kBlock = 64;
    unsigned char paddedKey[kBlock] = {};
    if (key.size() > kBlock) {
        const CMd5::Digest shortKey = CMd5::Of(key);
        std::memcpy(paddedKey, shortKey.data(), shortKey.size());
    } else if (!key.empty()) {
        std::memcpy(paddedKey, key.data(), key.size());
    }

    unsigned char innerPad[kBlock];
    unsigned char outerPad[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i) {
        innerPad[i] = paddedKey[i] ^ 0x36;
        outerPad[i] = paddedKey[i] ^ 0x5c;
    }

    CMd5 inner;
    inner.Update(innerPad, kBlock);
    inner.Update(text);
    const CMd5::Digest innerDigest = inner.Final();

    CMd5 outer;
    outer.Update(outerPad, kBlock);
    outer.Update(innerDigest.data(), innerDigest.size());
    return outer.Final();
}

} // namespace NVKTL
