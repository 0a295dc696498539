#include "tests/support/agent_cases.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "products/launch_agent.h"

#include <iconv.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <regex>

namespace kb::test {
namespace {

using nlohmann::json;

// "{name}" replaced from `values`, "{N*text}" by N times the text.
std::string expanded(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [name, value] : values) {
        for (std::size_t at; (at = text.find("{" + name + "}")) != std::string::npos;) text.replace(at, name.size() + 2, value);
    }
    static const std::regex repeated(R"(\{(\d+)\*([^{}]+)\})");
    for (std::smatch m; std::regex_search(text, m, repeated);) {
        std::string run;
        for (unsigned long i = std::stoul(m[1]); i > 0; --i) run += m.str(2);
        text.replace(static_cast<std::size_t>(m.position()), static_cast<std::size_t>(m.length()), run);
    }
    return text;
}

std::string utf16(const std::string& text, const char* encoding, const std::string& mark)
{
    const iconv_t converter = ::iconv_open(encoding, "UTF-8");
    std::string out(text.size() * 4, '\0');
    char* in = const_cast<char*>(text.data());
    char* to = out.data();
    std::size_t inLeft = text.size(), outLeft = out.size();
    ::iconv(converter, &in, &inLeft, &to, &outLeft);
    ::iconv_close(converter);
    return mark + out.substr(0, out.size() - outLeft);
}

// The row's bytes, as a file would hold them.
std::string bytesOf(const json& table, const json& row)
{
    if (row.contains("binary")) {
        std::string bytes;
        const std::string hex = row["binary"];
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        return bytes;
    }
    const std::string encoding = row.value("encoding", "UTF-8");
    const std::string path = row.value("path", ""), arguments = expanded(table["arguments"], {{"path", path}});
    const std::string text = expanded(row.value("document", std::string(table["document"])),
                                      {{"arguments", arguments}, {"encoding", encoding.starts_with("UTF-16") ? "UTF-16" : "UTF-8"}});
    if (encoding == "UTF-16LE") return utf16(text, "UTF-16LE", "\xFF\xFE");
    if (encoding == "UTF-16BE") return utf16(text, "UTF-16BE", "\xFE\xFF");
    return (encoding == "UTF-8" ? "" : "\xEF\xBB\xBF") + text;
}

json answerTo(const std::string& bytes)
{
    try {
        const std::optional<std::string> path = agentSearchPath(bytes);
        return path ? json(*path) : json(nullptr);
    } catch (const InstallError& error) {
        if (error.message() == messages::searchPathUnreadable) return "refused";
        if (error.message() == messages::earlierAgentTooLarge) return "tooLarge";
        return error.message();
    }
}

}  // namespace

std::vector<std::string> agentCaseMismatches(const std::filesystem::path& file, const std::string& reader)
{
    std::ifstream in(file);
    const json table = json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    std::vector<std::string> mismatches;
    for (const json& row : table["rows"]) {
        const json expected = row.value(reader, row["expect"]), answer = answerTo(bytesOf(table, row));
        if (answer != expected) mismatches.push_back(std::string(row["name"]) + ": " + expected.dump() + " expected, " + answer.dump() + " came");
    }
    return mismatches;
}

}  // namespace kb::test
