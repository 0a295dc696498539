#pragma once
// The digest itself, from the system's own library: OpenSSL's EVP on Linux,
// CommonCrypto on Apple's systems. Not for use beyond payload/sha256.cpp.

#include <array>
#include <cstddef>
#include <memory>
#include <span>

namespace kb {

// One SHA-256 digest computed from bytes added piece by piece. The library
// failing on SHA-256 (a broken library, never a broken file) is a
// std::runtime_error, state that cannot be allocated std::bad_alloc.
class Sha256Engine {
public:
    Sha256Engine();
    ~Sha256Engine();
    Sha256Engine(const Sha256Engine&) = delete;
    Sha256Engine& operator=(const Sha256Engine&) = delete;

    // Starts a new digest, forgetting whatever was added before.
    void restart();
    void add(std::span<const std::byte> bytes);
    // The digest of everything added since the last restart.
    std::array<unsigned char, 32> finish();

private:
    struct State;  // the library's own, beside it
    std::unique_ptr<State> state_;
};

}  // namespace kb
