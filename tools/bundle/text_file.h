#pragma once
// Texts that go into the product descriptor and the manifest.

#include <filesystem>
#include <string>
#include <string_view>

namespace kb::bundle {

// Throws std::runtime_error naming `what` unless `text` is valid UTF-8.
void requireUtf8(std::string_view text, const std::string& what);

// The whole content of a message file, without its trailing line breaks.
std::string messageFromFile(const std::filesystem::path& path);

// Writes `content` to `path`, replacing what is there.
void writeText(const std::filesystem::path& path, std::string_view content);

}  // namespace kb::bundle
