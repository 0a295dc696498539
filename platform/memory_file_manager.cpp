#include "platform/memory_file_manager.h"

#include "platform/system_error.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kb {

struct MemoryNode {
    FileType type = FileType::regular;
    unsigned mode = 0644;
    std::string bytes;                                           // a file's contents, a link's target text
    std::map<std::string, std::shared_ptr<MemoryNode>> entries;  // a folder's items, sorted by name
    bool locked = false;                                         // its lock is held
};

namespace {

using NodePtr = std::shared_ptr<MemoryNode>;

// As many links as Linux follows in one lookup before it gives up (ELOOP).
constexpr int maxLinks = 40;

NodePtr makeNode(FileType type, unsigned mode, std::string bytes = {})
{
    return std::make_shared<MemoryNode>(MemoryNode{type, mode, std::move(bytes), {}});
}

// The folder that holds a path's last component, and that component's name.
struct Place {
    MemoryNode& folder;
    std::string name;

    NodePtr node() const
    {
        auto found = folder.entries.find(name);
        return found == folder.entries.end() ? nullptr : found->second;
    }
    void put(NodePtr node) const { folder.entries[name] = std::move(node); }
};

// The names a path walks through: no root, no "." and no empty name a
// closing "/" leaves.
std::vector<std::string> components(const Path& path)
{
    std::vector<std::string> names;
    for (const Path& part : path) {
        if (!part.empty() && part != "/" && part != ".") names.push_back(part.native());
    }
    return names;
}

// Walks every component but the last from the root, following links the
// way the system does; errors name `shown` and the `action` that failed.
Place locate(MemoryNode& root, const Path& path, std::string_view action, const Path& shown)
{
    std::vector<std::string> todo = components(path);  // the components still to walk, the next one last
    std::reverse(todo.begin(), todo.end());
    std::vector<MemoryNode*> trail{&root};
    for (int links = 0; todo.size() > 1;) {
        std::string name = std::move(todo.back());
        todo.pop_back();
        if (name == "..") {
            if (trail.size() > 1) trail.pop_back();
            continue;
        }
        auto found = trail.back()->entries.find(name);
        if (found == trail.back()->entries.end()) throwSystemError(ENOENT, action, shown);
        MemoryNode& node = *found->second;
        if (node.type == FileType::symlink) {
            if (++links > maxLinks) throwSystemError(ELOOP, action, shown);
            const Path target = node.bytes;
            if (target.is_absolute()) trail.resize(1);
            const std::vector<std::string> parts = components(target);
            todo.insert(todo.end(), parts.rbegin(), parts.rend());
            continue;
        }
        if (node.type != FileType::directory) throwSystemError(ENOTDIR, action, shown);
        trail.push_back(&node);
    }
    return {*trail.back(), todo.empty() ? std::string() : todo.back()};
}

// The item at `path` itself; ENOENT, naming the `action`, when there is none.
NodePtr existing(MemoryNode& root, const Path& path, std::string_view action)
{
    NodePtr node = locate(root, path, action, path).node();
    if (!node) throwSystemError(ENOENT, action, path);
    return node;
}

// The item at `path` with a final link followed too.
NodePtr followed(MemoryNode& root, const Path& path, std::string_view action, const Path& shown, int depth = 0)
{
    NodePtr node = locate(root, path, action, shown).node();
    if (!node) throwSystemError(ENOENT, action, shown);
    if (node->type != FileType::symlink) return node;
    if (depth == maxLinks) throwSystemError(ELOOP, action, shown);
    const Path target = node->bytes;
    return followed(root, target.is_absolute() ? target : path.parent_path() / target, action, shown, depth + 1);
}

NodePtr deepCopy(const NodePtr& node)
{
    auto copy = std::make_shared<MemoryNode>(*node);
    for (auto& entry : copy->entries) entry.second = deepCopy(entry.second);
    return copy;
}

bool holds(const MemoryNode& folder, const MemoryNode& item)
{
    if (&folder == &item) return true;
    return std::any_of(folder.entries.begin(), folder.entries.end(),
                       [&](const auto& entry) { return holds(*entry.second, item); });
}

class MemoryInputFile final : public InputFile {
public:
    explicit MemoryInputFile(NodePtr file) : file_(std::move(file)) {}

    std::size_t read(std::span<std::byte> buffer) override
    {
        const std::size_t count = std::min(buffer.size(), file_->bytes.size() - std::min(offset_, file_->bytes.size()));
        std::memcpy(buffer.data(), file_->bytes.data() + offset_, count);
        offset_ += count;
        return count;
    }

private:
    NodePtr file_;  // an open file keeps reading what it opened, as a descriptor does
    std::size_t offset_ = 0;
};

}  // namespace

MemoryFileManager::MemoryFileManager(Path home, Path temporary)
    : root_(makeNode(FileType::directory, 0755)), home_(std::move(home)), temporary_(std::move(temporary))
{
    createDirectory(home_);
    createDirectory(temporary_);
}

void MemoryFileManager::addFile(const Path& path, std::string bytes, unsigned mode)
{
    createDirectory(path.parent_path());
    locate(*root_, path, "create", path).put(makeNode(FileType::regular, mode & 07777, std::move(bytes)));
}

void MemoryFileManager::addLink(const Path& path, std::string target)
{
    createDirectory(path.parent_path());
    locate(*root_, path, "create link", path).put(makeNode(FileType::symlink, 0777, std::move(target)));
}

void MemoryFileManager::addSpecial(const Path& path, unsigned mode)
{
    createDirectory(path.parent_path());
    locate(*root_, path, "create", path).put(makeNode(FileType::other, mode & 07777));
}

void MemoryFileManager::createDirectory(const Path& path)
{
    Path prefix;
    for (const Path& part : path) {
        prefix /= part;
        Place place = locate(*root_, prefix, "create folder", path);
        if (place.name.empty()) continue;
        NodePtr node = place.node();
        if (!node) {
            place.put(makeNode(FileType::directory, 0755));
        } else if (followed(*root_, prefix, "create folder", path)->type != FileType::directory) {
            throwSystemError(ENOTDIR, "create folder", path);
        }
    }
}

void MemoryFileManager::setPermissions(const Path& path, unsigned mode)
{
    NodePtr node = existing(*root_, path, "set permissions of");
    if (node->type == FileType::symlink) throwSystemError(EOPNOTSUPP, "set permissions through the link", path);
    node->mode = mode & 07777;
}

void MemoryFileManager::copyItem(const Path& from, const Path& to)
{
    NodePtr source = existing(*root_, from, "read attributes of");
    const char* action = source->type == FileType::directory ? "create folder"
                         : source->type == FileType::symlink ? "create link"
                                                             : "create";
    Place target = locate(*root_, to, action, to);
    if (target.node()) throwSystemError(EEXIST, action, to);
    target.put(deepCopy(source));
}

void MemoryFileManager::moveItem(const Path& from, const Path& to)
{
    Place source = locate(*root_, from, "move", from);
    NodePtr node = source.node();
    if (!node) throwSystemError(ENOENT, "move", from);
    Place target = locate(*root_, to, "move", from);
    if (target.node()) throwSystemError(EEXIST, "move", from);
    if (holds(*node, target.folder)) throwSystemError(EINVAL, "move", from);
    target.put(node);
    source.folder.entries.erase(source.name);
}

void MemoryFileManager::exchangeItems(const Path& a, const Path& b)
{
    Place first = locate(*root_, a, "exchange", a);
    Place second = locate(*root_, b, "exchange", a);
    NodePtr firstNode = first.node();
    NodePtr secondNode = second.node();
    if (!firstNode || !secondNode) throwSystemError(ENOENT, "exchange", a);
    first.put(secondNode);
    second.put(firstNode);
}

void MemoryFileManager::removeItem(const Path& path)
{
    Place place = locate(*root_, path, "read attributes of", path);
    if (place.folder.entries.erase(place.name) == 0) throwSystemError(ENOENT, "read attributes of", path);
}

FileAttributes MemoryFileManager::attributes(const Path& path)
{
    NodePtr node = existing(*root_, path, "read attributes of");
    return {node->type, node->bytes.size(), node->mode, true};
}

std::string MemoryFileManager::destinationOfSymbolicLink(const Path& path)
{
    NodePtr node = existing(*root_, path, "read link");
    if (node->type != FileType::symlink) throwSystemError(EINVAL, "read link", path);
    return node->bytes;
}

bool MemoryFileManager::isWritable(const Path& path)
{
    try {
        return (followed(*root_, path, "check", path)->mode & 0200) != 0;
    } catch (const std::system_error&) {
        return false;
    }
}

std::vector<DirectoryEntry> MemoryFileManager::contentsOfDirectory(const Path& path)
{
    NodePtr node = followed(*root_, path, "open folder", path);
    if (node->type != FileType::directory) throwSystemError(ENOTDIR, "open folder", path);
    std::vector<DirectoryEntry> result;
    for (const auto& [name, entry] : node->entries) result.push_back({name, entry->type});
    return result;
}

std::unique_ptr<InputFile> MemoryFileManager::openForReading(const Path& path)
{
    NodePtr node = followed(*root_, path, "open", path);
    if (node->type == FileType::directory) throwSystemError(EISDIR, "read", path);
    if (node->type != FileType::regular) throwSystemError(EOPNOTSUPP, "read special file", path);
    return std::make_unique<MemoryInputFile>(std::move(node));
}

void MemoryFileManager::writeAtomically(const Path& path, std::string_view data)
{
    Place place = locate(*root_, path, "create", path);
    if (NodePtr node = place.node(); node && node->type == FileType::directory)
        throwSystemError(EISDIR, "replace", path);
    place.put(makeNode(FileType::regular, 0644, std::string(data)));
}

namespace {

// Holds the lock of one item until it ends.
class MemoryFileLock final : public FileLock {
public:
    explicit MemoryFileLock(NodePtr item) : item_(std::move(item)) { item_->locked = true; }
    ~MemoryFileLock() override { item_->locked = false; }
    MemoryFileLock(const MemoryFileLock&) = delete;
    MemoryFileLock& operator=(const MemoryFileLock&) = delete;

private:
    NodePtr item_;
};

}  // namespace

std::unique_ptr<FileLock> MemoryFileManager::lockExclusively(const Path& path)
{
    NodePtr item = followed(*root_, path, "open", path);
    if (item->locked) return nullptr;
    return std::make_unique<MemoryFileLock>(std::move(item));
}

}  // namespace kb
