#include "tools/bundle/link_check.h"

#include <sys/stat.h>

#include <deque>
#include <stdexcept>
#include <vector>

namespace kb::bundle {
namespace {

// Links followed before a resolution counts as a loop (as the kernel does).
constexpr int maxLinks = 40;

std::deque<std::string> components(const std::string& text)
{
    std::deque<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::filesystem::path pathOf(const std::filesystem::path& root, const std::vector<std::string>& folders)
{
    std::filesystem::path path = root;
    for (const std::string& folder : folders) path /= folder;
    return path;
}

}  // namespace

void requireLinkInside(const std::filesystem::path& root, const std::string& relative, const std::string& target)
{
    const std::string shown = "link \"" + relative + "\" -> \"" + target + "\"";
    if (target.empty()) throw std::runtime_error(shown + " has no target");

    std::deque<std::string> linkPath = components(relative);
    linkPath.pop_back();
    std::vector<std::string> resolved(linkPath.begin(), linkPath.end());
    std::deque<std::string> pending = components(target);
    if (target.front() == '/') throw std::runtime_error(shown + " is absolute and leaves the payload root");

    int linksFollowed = 0;
    while (!pending.empty()) {
        std::string piece = pending.front();
        pending.pop_front();
        if (piece == ".") continue;
        if (piece == "..") {
            if (resolved.empty()) throw std::runtime_error(shown + " leaves the payload root");
            resolved.pop_back();
            continue;
        }
        resolved.push_back(piece);
        const std::filesystem::path here = pathOf(root, resolved);
        struct stat info {};
        if (::lstat(here.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) continue;

        if (++linksFollowed > maxLinks) throw std::runtime_error(shown + " runs into a loop of links");
        const std::string next = std::filesystem::read_symlink(here).native();
        if (next.empty() || next.front() == '/') {
            throw std::runtime_error(shown + " leads through a link that leaves the payload root");
        }
        resolved.pop_back();
        std::deque<std::string> nextPieces = components(next);
        pending.insert(pending.begin(), nextPieces.begin(), nextPieces.end());
    }
    if (resolved.empty()) throw std::runtime_error(shown + " leads to the payload root itself");
}

}  // namespace kb::bundle
