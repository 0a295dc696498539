#include "payload/sha256.h"

#include "platform/file_manager.h"
#include "platform/interruption.h"

#include <openssl/evp.h>

#include <array>
#include <new>
#include <stdexcept>

namespace kb {

namespace {

constexpr std::size_t pieceSize = 0x100000;  // 1,048,576 bytes

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

// One read buffer for the whole process (the installer has one thread; the
// buffer is thread-local so that tests running digests in parallel are safe).
std::span<std::byte> readBuffer()
{
    thread_local std::unique_ptr<std::byte[]> buffer(new std::byte[pieceSize]);
    return {buffer.get(), pieceSize};
}

}  // namespace

void Sha256::ContextDeleter::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new())
{
    if (!context_) throw std::bad_alloc();
    restart();
}

Sha256::~Sha256() = default;

void Sha256::restart()
{
    check(EVP_DigestInit_ex(context_.get(), digestMethod(), nullptr), "init");
}

void Sha256::add(std::span<const std::byte> bytes)
{
    check(EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()), "update");
}

std::string Sha256::finish()
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(context_.get(), digest.data(), &length), "final");

    static constexpr char hex[] = "0123456789abcdef";
    std::string text(std::size_t{length} * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = hex[digest[i] >> 4];
        text[2 * i + 1] = hex[digest[i] & 0x0f];
    }
    return text;
}

std::string sha256(const std::filesystem::path& path)
{
    return sha256(path, {});
}

std::string sha256(const std::filesystem::path& path,
                   const std::function<void(std::span<const std::byte>)>& onPiece)
{
    // Opening first: a missing file fails before anything else has happened.
    std::unique_ptr<InputFile> file = fm->openForReading(path);

    // One context per thread, kept from file to file; a digest that an
    // earlier error left half done is dropped first.
    thread_local Sha256 digest;
    digest.restart();

    const std::span<std::byte> buffer = readBuffer();
    for (;;) {
        checkInterruption();  // a large file must not keep a signal waiting
        const std::size_t got = file->read(buffer);  // a read error leaves, closing the file
        if (got == 0) break;
        const std::span<const std::byte> piece = buffer.first(got);
        digest.add(piece);
        if (onPiece) onPiece(piece);
    }
    file.reset();  // closing errors are not reported
    return digest.finish();
}

}  // namespace kb
