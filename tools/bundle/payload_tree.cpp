#include "tools/bundle/payload_tree.h"

#include "tools/bundle/link_check.h"
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

void scanFolder(const std::filesystem::path& root, const std::filesystem::path& folder, const std::string& prefix,
                std::vector<PayloadItem>& items)
{
    std::vector<std::string> names;
    for (const auto& child : std::filesystem::directory_iterator(folder)) {
        names.push_back(child.path().filename().native());
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        if (ignoredName(name)) continue;
        const std::string relative = prefix.empty() ? name : prefix + "/" + name;
        requireUtf8(relative, "a payload name");
        const std::filesystem::path path = folder / name;
        const struct stat info = lstatOrThrow(path);

        PayloadItem item;
        item.relative = relative;
        item.permissions = info.st_mode & 0777;
        if (S_ISDIR(info.st_mode)) {
            item.kind = PayloadItem::Kind::folder;
            items.push_back(item);
            scanFolder(root, path, relative, items);
        } else if (S_ISREG(info.st_mode)) {
            item.kind = PayloadItem::Kind::file;
            items.push_back(item);
        } else if (S_ISLNK(info.st_mode)) {
            item.kind = PayloadItem::Kind::link;
            item.linkTarget = std::filesystem::read_symlink(path).native();
            requireUtf8(item.linkTarget, "the target of link \"" + relative + "\"");
            requireLinkInside(root, relative, item.linkTarget);
            items.push_back(item);
        } else {
            throw std::runtime_error("\"" + relative +
                                     "\" is a special file (FIFO, socket or device); a payload holds only "
                                     "folders, regular files and links");
        }
    }
}

}  // namespace

bool ignoredName(const std::string& name)
{
    return name.starts_with("._") || name == ".DS_Store";
}

std::vector<PayloadItem> scanPayload(const std::filesystem::path& root)
{
    const struct stat info = lstatOrThrow(root);
    if (!S_ISDIR(info.st_mode)) throw std::runtime_error("the payload \"" + root.native() + "\" is not a folder");
    std::vector<PayloadItem> items;
    scanFolder(root, root, "", items);
    return items;
}

}  // namespace kb::bundle
