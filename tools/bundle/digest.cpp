#include "tools/bundle/digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace kb::bundle {

Sha256::Sha256() : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free)
{
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("cannot start a SHA-256 computation");
    }
}

void Sha256::add(const void* data, std::size_t size)
{
    if (EVP_DigestUpdate(context_.get(), data, size) != 1) throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) throw std::runtime_error("SHA-256 failed");
    std::string text;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        text += pair;
    }
    return text;
}

std::string fileSha256(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read \"" + path.native() + "\"");
    Sha256 digest;
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0) digest.add(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw std::runtime_error("cannot read \"" + path.native() + "\"");
    return digest.hex();
}

}  // namespace kb::bundle
