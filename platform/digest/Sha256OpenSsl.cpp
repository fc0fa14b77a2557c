#include "platform/digest/Sha256.h"

#include <openssl/evp.h>

#include <new>

namespace tarnhollow {

struct Sha256::State {
    EVP_MD_CTX* ctx = nullptr;
};

Sha256::Sha256()
    : state_(std::make_unique<State>())
{
    state_->ctx = EVP_MD_CTX_new();
    if (state_->ctx == nullptr)
        throw std::bad_alloc();
    reset();
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->ctx); }

void Sha256::reset() { EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr); }

void Sha256::update(const void* data, std::size_t size)
{
    if (size > 0)
        EVP_DigestUpdate(state_->ctx, data, size);
}

std::string Sha256::finishHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->ctx, digest, &length);
    return toHex(digest, length);
}

} // namespace tarnhollow
