// The zip writer: entries are written one after another straight into an
// open file, so that memory does not grow with the number of entries. The
// central directory goes to a scratch file until the end.
#pragma once

#include "collector-tool/ScratchFile.h"
#include "platform/digest/Sha256.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tarnhollow::tool {

struct EntryMeta {
    std::time_t mtime = 0;
    unsigned mode = 0;    // st_mode, type bits included
    bool compress = true; // deflate; otherwise stored
};

class Archive {
public:
    // Writes into out (an open, empty file, not owned); the central
    // directory is kept in directory until close().
    Archive(int out, ScratchFile directory);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // name ends in '/' for a folder. Each begin() is followed by write()s
    // and one end(). Every call returns false once writing has failed.
    bool begin(const std::string& name, const EntryMeta& meta);
    bool write(const void* data, std::size_t size);
    bool end();
    // Writes the central directory; the file is complete afterwards.
    bool close();

    // Marks the archive failed, e.g. when a scratch file could not be written.
    void fail(int error);
    // SHA-256 of the whole archive, after close().
    const std::string& sha256() const { return sha256_; }
    // The errno behind the first failure.
    int error() const { return error_; }
    std::uint64_t entries() const { return entries_; }
    std::uint64_t bytesWritten() const { return offset_; }

private:
    bool put(const void* data, std::size_t size);
    bool flush();
    bool deflateSome(const unsigned char* data, std::size_t size, bool finish);

    int out_;
    ScratchFile directory_;
    std::vector<unsigned char> buffer_;
    std::vector<unsigned char> deflated_;
    std::uint64_t offset_ = 0; // bytes of the archive so far, buffered included
    std::uint64_t entries_ = 0;
    int error_ = 0;
    Sha256 hash_;
    std::string sha256_;
    struct Current;
    Current* current_ = nullptr;
    void* stream_ = nullptr; // zlib's state, reused for every entry
};

} // namespace tarnhollow::tool
