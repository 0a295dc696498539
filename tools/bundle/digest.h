#pragma once
// SHA-256 in the form the installer compares: 64 lower-case hex digits.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace kb::bundle {

class Sha256 {
public:
    Sha256();
    void add(const void* data, std::size_t size);
    std::string hex();  // finishes the computation

private:
    std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> context_;
};

// The digest of a whole file, read in pieces of 1 MiB.
std::string fileSha256(const std::filesystem::path& path);

}  // namespace kb::bundle
