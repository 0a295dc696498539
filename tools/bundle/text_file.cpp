#include "tools/bundle/text_file.h"

#include "core/unicode.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kb::bundle {

void requireUtf8(std::string_view text, const std::string& what)
{
    if (!validUtf8(text)) throw std::runtime_error(what + " is not valid UTF-8: \"" + std::string(text) + "\"");
}

std::string messageFromFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the message file \"" + path.native() + "\"");
    std::ostringstream content;
    content << in.rdbuf();
    std::string message = content.str();
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

void writeText(const std::filesystem::path& path, std::string_view content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write \"" + path.native() + "\"");
}

}  // namespace kb::bundle
