#pragma once
// Creating members below the destination folder without ever leaving it.
// Every step goes through an open folder descriptor and never follows a
// symbolic link, so a link that an earlier member created cannot carry a
// later member somewhere else, and nothing that already exists is replaced.

#include "platform/unique_fd.h"

#include <filesystem>
#include <string>
#include <utility>
#include <sys/types.h>
#include <vector>

namespace kb::ditto {

// Opens the destination folder, creating it (and missing parents) first.
UniqueFd openDestination(const std::filesystem::path& destination);

// The destination folder and, kept open, the chain of folders that leads to
// the member met last. Members of one folder follow each other in an
// archive, so most members find their folder open already instead of
// opening every folder on their path again. A folder once opened stays the
// same folder: nothing that exists is ever replaced, and a later member can
// neither rename nor remove it.
//
// Each operation takes the member's components (see memberComponents);
// folders on the way that do not exist yet are created with mode 0755.
class SafeTree {
public:
    explicit SafeTree(UniqueFd root) : root_(std::move(root)) {}

    int root() const { return root_.get(); }

    // Creates a folder, or accepts one that an earlier member's path created,
    // and gives it `mode`.
    void makeFolder(const std::vector<std::string>& components, mode_t mode);

    // Creates a new, empty regular file (mode 0600 until the caller sets its
    // own) and returns it open for writing.
    UniqueFd createFile(const std::vector<std::string>& components);

    // Creates a symbolic link holding `target` as its text, whatever it names.
    void makeLink(const std::vector<std::string>& components, const std::string& target);

private:
    // The folder that holds the member's last component, opened or created
    // along the way; the descriptor belongs to the tree.
    int parentOf(const std::vector<std::string>& components);

    struct OpenFolder {
        std::string name;
        UniqueFd fd;
    };
    UniqueFd root_;
    std::vector<OpenFolder> chain_;  // chain_[i] lies in chain_[i - 1], chain_[0] in the root
    UniqueFd deep_;                  // the parent of a member below the chain's limit
};

}  // namespace kb::ditto
