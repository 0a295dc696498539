#pragma once
// SHA-256 in the form the descriptor and the manifest use: 64 lower-case
// hexadecimal digits.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

struct evp_md_ctx_st;

namespace kb {

// One digest computed from bytes added piece by piece. OpenSSL failing on
// SHA-256 (a broken library, never a broken file) is a std::runtime_error,
// a context that cannot be allocated std::bad_alloc.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(std::span<const std::byte> bytes);
    // The digest of everything added since the last restart.
    std::string finish();
    // Starts a new digest, forgetting whatever was added before.
    void restart();

private:
    struct ContextDeleter {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextDeleter> context_;
};

// The digest of a file's content. The file is read through `fm` in pieces of
// at most 1 MiB into one buffer, with one digest context, both reused from
// call to call; it is never read whole into memory. Opening and reading
// errors are the file manager's own (std::system_error), passed on unchanged.
std::string sha256(const std::filesystem::path& path);

// The same, handing every piece read to `onPiece` as well, in order, so that
// one reading of the file can both digest it and copy it elsewhere. What
// `onPiece` throws is passed on.
std::string sha256(const std::filesystem::path& path,
                   const std::function<void(std::span<const std::byte>)>& onPiece);

}  // namespace kb
