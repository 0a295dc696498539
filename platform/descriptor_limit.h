#pragma once
// The number of files the program may hold open.

namespace kb {

// Raises the soft limit on open descriptors to the hard one (on macOS to at
// most OPEN_MAX, above which setrlimit refuses). A program started from the
// Finder gets 256; trees are walked with a bounded number of descriptors
// anyway, and the rest is headroom. A limit that cannot be raised stays.
void raiseDescriptorLimit() noexcept;

}  // namespace kb
