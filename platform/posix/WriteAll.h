// Writing a whole buffer to a descriptor, however the system splits it.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnhollow::posix {

// 0 when every byte was written, else the errno that stopped it.
int writeAll(int fd, const void* data, std::size_t size);
inline int writeAll(int fd, std::string_view text) { return writeAll(fd, text.data(), text.size()); }
// The same at a given offset, leaving the file position alone.
int writeAllAt(int fd, const void* data, std::size_t size, unsigned long long offset);

} // namespace tarnhollow::posix
