// SHA-256 from CommonCrypto, which every Apple system has.

#include "payload/sha256_engine.h"

#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kb {

struct Sha256Engine::State {
    CC_SHA256_CTX context;
};

Sha256Engine::Sha256Engine() : state_(std::make_unique<State>())
{
    restart();
}

Sha256Engine::~Sha256Engine() = default;

void Sha256Engine::restart()
{
    CC_SHA256_Init(&state_->context);
}

void Sha256Engine::add(std::span<const std::byte> bytes)
{
    // CC_LONG counts 32 bits.
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), std::numeric_limits<CC_LONG>::max());
        CC_SHA256_Update(&state_->context, bytes.data(), static_cast<CC_LONG>(piece));
        bytes = bytes.subspan(piece);
    }
}

std::array<unsigned char, 32> Sha256Engine::finish()
{
    std::array<unsigned char, 32> digest{};
    static_assert(CC_SHA256_DIGEST_LENGTH == 32);
    CC_SHA256_Final(digest.data(), &state_->context);
    return digest;
}

}  // namespace kb
