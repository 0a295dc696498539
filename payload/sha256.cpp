#include "payload/sha256.h"

#include "platform/file_manager.h"

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>

namespace kb {

namespace {

constexpr std::size_t pieceSize = 0x100000;  // 1,048,576 bytes

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

struct DigestMethodDeleter {
    void operator()(EVP_MD* method) const { EVP_MD_free(method); }
};
using DigestMethod = std::unique_ptr<EVP_MD, DigestMethodDeleter>;

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

// The implementation is looked up once: OpenSSL would otherwise search its
// providers again for every file, which shows on payloads of many small files.
// The context is kept too; initialising it again resets it.
EVP_MD_CTX* digestContext()
{
    thread_local const DigestMethod method(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    thread_local const DigestContext context(EVP_MD_CTX_new());
    if (!method) throw std::runtime_error("SHA-256: OpenSSL has no implementation");
    if (!context) throw std::bad_alloc();
    check(EVP_DigestInit_ex(context.get(), method.get(), nullptr), "init");
    return context.get();
}

}  // namespace

std::string sha256(const std::filesystem::path& path)
{
    // Opening first: a missing file fails before anything else has happened.
    std::unique_ptr<InputFile> file = fm->openForReading(path);

    EVP_MD_CTX* context = digestContext();

    const std::span<std::byte> buffer = readBuffer();
    for (;;) {
        const std::size_t got = file->read(buffer);  // a read error leaves, closing the file
        if (got == 0) break;
        check(EVP_DigestUpdate(context, buffer.data(), got), "update");
    }

    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(context, digest.data(), &length), "final");
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
