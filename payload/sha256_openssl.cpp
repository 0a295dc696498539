// SHA-256 from OpenSSL's EVP interface, on Linux.

#include "payload/sha256_engine.h"

#include <openssl/evp.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

namespace kb {

namespace {

struct DigestMethodDeleter {
    void operator()(EVP_MD* method) const { EVP_MD_free(method); }
};
using DigestMethod = std::unique_ptr<EVP_MD, DigestMethodDeleter>;

void check(int ok, const char* step)
{
    if (ok != 1) throw std::runtime_error(std::string("SHA-256: ") + step + " failed");
}

// The implementation is looked up once per thread: OpenSSL would otherwise
// search its providers again for every digest, which shows on payloads of
// many small files.
const EVP_MD* digestMethod()
{
    thread_local const DigestMethod method(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    if (!method) throw std::runtime_error("SHA-256: OpenSSL has no implementation");
    return method.get();
}

}  // namespace

struct Sha256Engine::State {
    State() : context(EVP_MD_CTX_new())
    {
        if (!context) throw std::bad_alloc();
    }
    ~State() { EVP_MD_CTX_free(context); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    EVP_MD_CTX* context;
};

Sha256Engine::Sha256Engine() : state_(std::make_unique<State>())
{
    restart();
}

Sha256Engine::~Sha256Engine() = default;

void Sha256Engine::restart()
{
    check(EVP_DigestInit_ex(state_->context, digestMethod(), nullptr), "init");
}

void Sha256Engine::add(std::span<const std::byte> bytes)
{
    check(EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()), "update");
}

std::array<unsigned char, 32> Sha256Engine::finish()
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(state_->context, digest.data(), &length), "final");
    if (length != 32) throw std::runtime_error("SHA-256: a digest of another length");
    std::array<unsigned char, 32> result{};
    std::copy_n(digest.begin(), result.size(), result.begin());
    return result;
}

}  // namespace kb
