// A nameless temporary file in a folder given as an open descriptor: what
// the run writes as it goes (the manifest, the log, the archive's central
// directory) waits there instead of in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnhollow::tool {

class ScratchFile {
public:
    ScratchFile() = default;
    ~ScratchFile();
    ScratchFile(ScratchFile&& other) noexcept;
    ScratchFile& operator=(ScratchFile&& other) noexcept;

    // Created exclusively and unlinked at once; 0 or errno.
    static int create(int folderFd, ScratchFile& file);

    // What cannot be written yet (a full disk) stays buffered, and goes out
    // with the next flush after clearError().
    bool append(std::string_view data) { return append(data.data(), data.size()); }
    bool append(const void* data, std::size_t size);
    void clearError() { error_ = 0; }
    // Flushes and goes back to the start for reading.
    bool rewind();
    // Bytes read, 0 at the end, -1 on failure.
    long read(void* data, std::size_t capacity);

    bool valid() const { return fd_ >= 0; }
    // For another writer (a child process); syncSize() counts what it wrote.
    int fd() const { return fd_; }
    void syncSize();
    int error() const { return error_; }
    std::uint64_t size() const { return size_; }

private:
    bool flush();

    int fd_ = -1;
    int error_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t written_ = 0; // bytes in the file
    std::vector<char> buffer_;
};

} // namespace tarnhollow::tool
