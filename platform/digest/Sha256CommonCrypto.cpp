#include "platform/digest/Sha256.h"

#include <CommonCrypto/CommonDigest.h>

namespace tarnhollow {

struct Sha256::State {
    CC_SHA256_CTX ctx;
};

Sha256::Sha256()
    : state_(std::make_unique<State>())
{
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset() { CC_SHA256_Init(&state_->ctx); }

void Sha256::update(const void* data, std::size_t size)
{
    // CC_LONG is 32 bits wide.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const auto chunk = static_cast<CC_LONG>(size > 0x40000000 ? 0x40000000 : size);
        CC_SHA256_Update(&state_->ctx, bytes, chunk);
        bytes += chunk;
        size -= chunk;
    }
}

std::string Sha256::finishHex()
{
    unsigned char digest[CC_SHA256_DIGEST_LENGTH];
    CC_SHA256_Final(digest, &state_->ctx);
    return toHex(digest, sizeof digest);
}

} // namespace tarnhollow
