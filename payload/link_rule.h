#pragma once
// Whether a symbolic link of a payload leads to something inside the payload
// root: the one rule the bundle tool applies before it packs a link and the
// verifier applies to every unpacked link.

#include "platform/file_manager.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

enum class LinkVerdict {
    inside,             // strictly below the root, whether anything is there yet or not
    noTarget,           // the link's text is empty
    absolute,           // the text is absolute and the root's place is not known
    leaves,             // it climbs above the root, or away from the root's own path
    leavesThroughLink,  // a link on the way has an empty text, or an absolute one where the root's place is unknown
    loop,               // more than 40 links on the way, as the kernel counts a loop
    root,               // the root itself
};

// The target text is resolved on the names, piece by piece, from the link's
// own folder: "." stays, ".." goes back one name, and a name that is a link
// in the payload (looked up through `fm`) is replaced by that link's text,
// as the kernel would. A name that is missing or not a folder is taken as it
// stands, so the text of a dangling link is judged by where it leads.
//
// Where the root will lie is usually unknown (the bundle tool packs a payload
// for machines it has never seen): then an absolute text and a ".." above
// the root leave the payload. Given the root's canonical path (the verifier,
// on the unpacked payload), both are followed along that path instead: an
// absolute text or a climbing ".." may come back into the root by naming the
// folders of its canonical path (compared in NFC), and any other name outside
// the root leaves it. Nothing outside the root is ever looked up.
class LinkRule {
public:
    explicit LinkRule(Path root, std::optional<std::string> canonicalRoot = std::nullopt);

    // The verdict on the link at `relative` ("/"-separated, below the root)
    // holding `target`. File manager errors other than a missing item or a
    // name on the way that is not a folder are passed on.
    LinkVerdict judge(std::string_view relative, std::string_view target) const;

private:
    Path root_;
    // The names of the canonical root's path in NFC, when its place is known.
    std::optional<std::vector<std::string>> place_;
};

}  // namespace kb
