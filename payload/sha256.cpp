#include "payload/sha256.h"

#include "payload/sha256_engine.h"
#include "platform/file_manager.h"
#include "platform/interruption.h"

#include <array>
#include <memory>

namespace kb {

namespace {

constexpr std::size_t pieceSize = 0x100000;  // 1,048,576 bytes

// One read buffer for the whole process (the installer has one thread that
// digests; the buffer is thread-local so that tests running digests in
// parallel are safe).
std::span<std::byte> readBuffer()
{
    thread_local std::unique_ptr<std::byte[]> buffer(new std::byte[pieceSize]);
    return {buffer.get(), pieceSize};
}

// 64 lower-case hexadecimal digits.
std::string hexOf(const std::array<unsigned char, 32>& digest)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string text(digest.size() * 2, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = hex[digest[i] >> 4];
        text[2 * i + 1] = hex[digest[i] & 0x0f];
    }
    return text;
}

}  // namespace

std::string sha256OfBytes(std::string_view bytes)
{
    Sha256Engine digest;
    digest.add(std::as_bytes(std::span(bytes.data(), bytes.size())));
    return hexOf(digest.finish());
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

    // One digest state per thread, kept from file to file; a digest that an
    // earlier error left half done is dropped first.
    thread_local Sha256Engine digest;
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
    return hexOf(digest.finish());
}

}  // namespace kb
