#include "helpers/ditto/member_path.h"

#include <stdexcept>

namespace kb::ditto {

std::vector<std::string> memberComponents(std::string_view name)
{
    const std::string quoted = "\"" + std::string(name) + "\"";
    if (name.empty()) throw std::runtime_error("refusing a member without a name");
    if (name.front() == '/') throw std::runtime_error("refusing member " + quoted + ": absolute path");

    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        std::string_view piece = name.substr(start, end - start);
        if (piece == "..") throw std::runtime_error("refusing member " + quoted + ": \"..\" in its path");
        if (!piece.empty() && piece != ".") components.emplace_back(piece);
        start = end + 1;
    }
    return components;
}

std::string joinedPath(const std::vector<std::string>& components)
{
    std::string joined;
    for (const std::string& component : components) {
        if (!joined.empty()) joined += '/';
        joined += component;
    }
    return joined;
}

std::string quoted(const std::vector<std::string>& components)
{
    return "\"" + joinedPath(components) + "\"";
}

}  // namespace kb::ditto
