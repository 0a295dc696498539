#include "tools/bundle/payload_tree.h"

#include "core/paths.h"
#include "payload/link_rule.h"
#include "tools/bundle/text_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace kb::bundle {
namespace {

struct stat lstatOrThrow(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::system_error(errno, std::generic_category(), path.native());
    return info;
}

// Refuses a link that would not lead inside the payload once it is unpacked
// on another machine: the rule is resolved on the names alone, so that it
// cannot depend on what lies outside the payload on this machine or the
// user's.
void requireLinkInside(const LinkRule& rule, const std::string& relative, const std::string& target)
{
    const std::string shown = "link \"" + relative + "\" -> \"" + target + "\"";
    switch (rule.judge(relative, target)) {
    case LinkVerdict::inside: return;
    case LinkVerdict::noTarget: throw std::runtime_error(shown + " has no target");
    case LinkVerdict::absolute: throw std::runtime_error(shown + " is absolute and leaves the payload root");
    case LinkVerdict::leaves: throw std::runtime_error(shown + " leaves the payload root");
    case LinkVerdict::leavesThroughLink:
        throw std::runtime_error(shown + " leads through a link that leaves the payload root");
    case LinkVerdict::loop: throw std::runtime_error(shown + " runs into a loop of links");
    case LinkVerdict::root: throw std::runtime_error(shown + " leads to the payload root itself");
    }
}

// The names in `folder`, sorted bytewise.
std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& child : std::filesystem::directory_iterator(folder)) names.push_back(child.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

// Refuses a link that would lead nowhere once the recipe installs an item on
// its own: the item itself, or a link in it that leads out of it.
void requireLinkInsideItems(const std::filesystem::path& root, const std::vector<std::string>& installed,
                            const std::string& relative, const std::string& target)
{
    for (const std::string& item : installed) {
        const std::string shown = "link \"" + relative + "\" -> \"" + target + "\"";
        if (relative == item) throw std::runtime_error(shown + " is an item the installer puts in place on its own");
        if (relative.starts_with(item + "/")
            && LinkRule(root / item).judge(relative.substr(item.size() + 1), target) != LinkVerdict::inside)
            throw std::runtime_error(shown + " leaves \"" + item + "\", which the installer puts in place on its own");
    }
}

// Walks the tree depth first without recursion, however deep it is: each
// folder is listed whole (and closed) before the walk goes into it.
void scanTree(const LinkRule& rule, const std::filesystem::path& root, const std::vector<std::string>& installed,
              std::vector<PayloadItem>& items)
{
    struct Folder {
        std::string prefix;  // the folder's path below the root, "" for the root
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    std::vector<Folder> folders{{"", namesIn(root)}};
    while (!folders.empty()) {
        if (folders.back().next == folders.back().names.size()) {
            folders.pop_back();
            continue;
        }
        Folder& folder = folders.back();
        const std::string& name = folder.names[folder.next++];
        const std::string relative = folder.prefix.empty() ? name : folder.prefix + "/" + name;
        const std::filesystem::path path = root / relative;
        const struct stat info = lstatOrThrow(path);
        // Finder's files and links are left out, as the verifier passes them
        // over; a folder so named is kept with what it holds, which the
        // verifier enters and checks.
        if (ignoredName(name) && !S_ISDIR(info.st_mode)) continue;
        requireUtf8(relative, "a payload name");

        PayloadItem item;
        item.relative = relative;
        item.permissions = info.st_mode & 0777;
        if (S_ISDIR(info.st_mode)) {
            item.kind = PayloadItem::Kind::folder;
            items.push_back(item);
            folders.push_back({relative, namesIn(path)});
        } else if (S_ISREG(info.st_mode)) {
            item.kind = PayloadItem::Kind::file;
            items.push_back(item);
        } else if (S_ISLNK(info.st_mode)) {
            item.kind = PayloadItem::Kind::link;
            item.linkTarget = std::filesystem::read_symlink(path).native();
            requireUtf8(item.linkTarget, "the target of link \"" + relative + "\"");
            requireLinkInside(rule, relative, item.linkTarget);
            requireLinkInsideItems(root, installed, relative, item.linkTarget);
            items.push_back(item);
        } else {
            throw std::runtime_error("\"" + relative +
                                     "\" is a special file (FIFO, socket or device); a payload holds only "
                                     "folders, regular files and links");
        }
    }
}

}  // namespace

std::vector<PayloadItem> scanPayload(const std::filesystem::path& root, const std::vector<std::string>& installed)
{
    const struct stat info = lstatOrThrow(root);
    if (!S_ISDIR(info.st_mode)) throw std::runtime_error("the payload \"" + root.native() + "\" is not a folder");
    const LinkRule rule(root);
    std::vector<PayloadItem> items;
    scanTree(rule, root, installed, items);
    return items;
}

}  // namespace kb::bundle
