// Opening a folder by a path in which no component may be a link: what a
// privileged process does with a path that others could have changed.
#pragma once

namespace tarnhollow::posix {

// A read-only descriptor of the folder, or -errno (ELOOP where a link was
// met on the way, ENOTDIR where the path leads to no folder).
int openFolderWithoutLinks(const char* path);

} // namespace tarnhollow::posix
