#include "payload/link_rule.h"

#include "core/unicode.h"

#include <deque>
#include <system_error>
#include <utility>

namespace kb {

namespace {

// Links followed before a resolution counts as a loop (as the kernel does).
constexpr int maxLinks = 40;

// The names of a "/"-separated text; empty pieces (doubled, leading and
// trailing slashes) are dropped.
std::deque<std::string> namesOf(std::string_view text)
{
    std::deque<std::string> names;
    while (!text.empty()) {
        const std::size_t slash = text.find('/');
        if (slash != 0) names.emplace_back(text.substr(0, slash));
        if (slash == std::string_view::npos) break;
        text.remove_prefix(slash + 1);
    }
    return names;
}

// Whether the item at `path` is a symbolic link; a missing item, or one
// below something that is not a folder, is not.
bool isLink(const Path& path)
{
    try {
        return fm->attributes(path).type == FileType::symlink;
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory || error.code() == std::errc::not_a_directory) {
            return false;
        }
        throw;
    }
}

// Where a resolution stands: below the root by `below`, or, when the
// root's place is known, `above` names deep along the root's canonical path
// (0 being "/").
struct Position {
    std::vector<std::string> below;
    std::optional<std::size_t> above;
};

}  // namespace

LinkRule::LinkRule(Path root, std::optional<std::string> canonicalRoot) : root_(std::move(root))
{
    if (!canonicalRoot) return;
    place_.emplace();
    for (const std::string& name : namesOf(*canonicalRoot)) place_->push_back(nfc(name));
}

LinkVerdict LinkRule::judge(std::string_view relative, std::string_view target) const
{
    if (target.empty()) return LinkVerdict::noTarget;
    const bool absolute = target.starts_with('/');
    if (absolute && !place_) return LinkVerdict::absolute;

    // An absolute text starts again at "/", which is the root itself only
    // when the root is "/".
    const auto top = [this] { return place_->empty() ? Position{} : Position{{}, 0}; };

    std::deque<std::string> linkPath = namesOf(relative);
    Position at{{linkPath.begin(), linkPath.end()}, std::nullopt};
    if (!at.below.empty()) at.below.pop_back();  // the link's own folder
    if (absolute) at = top();
    std::deque<std::string> pending = namesOf(target);

    int linksFollowed = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".") continue;

        if (at.above) {
            // Outside the root: only the way back along its own path is open.
            std::size_t& depth = *at.above;
            if (name == "..") {
                if (depth > 0) --depth;
            } else if (depth < place_->size() && nfc(name) == (*place_)[depth]) {
                if (++depth == place_->size()) at.above.reset();
            } else {
                return LinkVerdict::leaves;
            }
            continue;
        }
        if (name == "..") {
            if (!at.below.empty()) {
                at.below.pop_back();
            } else if (!place_) {
                return LinkVerdict::leaves;
            } else if (!place_->empty()) {
                at.above = place_->size() - 1;
            }
            continue;
        }

        at.below.push_back(name);
        Path here = root_;
        for (const std::string& folder : at.below) here /= folder;
        if (!isLink(here)) continue;

        if (++linksFollowed > maxLinks) return LinkVerdict::loop;
        const std::string next = fm->destinationOfSymbolicLink(here);
        if (next.empty() || (next.starts_with('/') && !place_)) return LinkVerdict::leavesThroughLink;
        if (next.starts_with('/')) {
            at = top();
        } else {
            at.below.pop_back();
        }
        std::deque<std::string> nextNames = namesOf(next);
        pending.insert(pending.begin(), nextNames.begin(), nextNames.end());
    }
    if (at.above) return LinkVerdict::leaves;
    if (at.below.empty()) return LinkVerdict::root;
    return LinkVerdict::inside;
}

}  // namespace kb
