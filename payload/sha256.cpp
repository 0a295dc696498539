#include "payload/sha256.h"

#include "platform/file_manager.h"

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <stdexcept>

namespace kb {

namespace {

constexpr std::size_t pieceSize = 0x100000;  // 1,048,576 bytes

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

// OpenSSL failing on SHA-256 means a broken library, not a broken file.
void check(int ok, const char* step)
{
    if (ok != 1) throw std::runtime_error(std::string("SHA-256: ") + step + " failed");
}

// One read buffer for the whole process (the installer has one thread; the
// buffer is thread-local so that tests running digests in parallel are safe).
std::span<std::byte> readBuffer()
{
    thread_local std::unique_ptr<std::byte[]> buffer(new std::byte[pieceSize]);
    return {buffer.get(), pieceSize};
}

}  // namespace

std::string sha256(const std::filesystem::path& path)
{
    // Opening first: a missing file fails before anything else has happened.
    std::unique_ptr<InputFile> file = fm->openForReading(path);

    DigestContext context(EVP_MD_CTX_new());
    if (!context) throw std::bad_alloc();
    check(EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr), "init");

    const std::span<std::byte> buffer = readBuffer();
    for (;;) {
        const std::size_t got = file->read(buffer);  // a read error leaves, closing the file
        if (got == 0) break;
        check(EVP_DigestUpdate(context.get(), buffer.data(), got), "update");
    }

    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(context.get(), digest.data(), &length), "final");
    file.reset();  // closing errors are not reported

    static constexpr char hex[] = "0123456789abcdef";
    std::string text(std::size_t{length} * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = hex[digest[i] >> 4];
        text[2 * i + 1] = hex[digest[i] & 0x0f];
    }
    return text;
}

}  // namespace kb
