// The zip writer. Everything that touches libzip lives behind this file, so
// the rest of the tool does not depend on its headers.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

struct zip;

namespace tarnhollow::tool {

// Content of one entry, pulled by the writer when it gets to the entry.
// Streams must not fail: a source that cannot be read delivers what it has
// and records the problem itself, so that one bad file cannot sink the run.
class EntryStream {
public:
    virtual ~EntryStream() = default;
    // Size promised to the writer (never exceeded), or none when unknown.
    virtual std::optional<std::uint64_t> size() const = 0;
    virtual void open() = 0;
    // Bytes read into data, 0 at the end.
    virtual std::size_t read(void* data, std::size_t capacity) = 0;
    virtual void close() = 0;
};

struct EntryMeta {
    std::time_t mtime = 0;
    unsigned mode = 0; // st_mode, type bits included
    bool compress = true; // deflate; otherwise stored
};

struct ArchiveError {
    int systemError = 0; // errno behind the failure, when there is one
    std::string text; // libzip's description
};

class Archive {
public:
    Archive() = default;
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Prepares writing to path, which must already exist (empty): nothing is
    // written before close().
    bool open(const std::string& path, ArchiveError& error);
    // Adds an entry whose content comes from stream; stream must live until
    // close() or discard(). name ends in '/' for a folder.
    bool add(const std::string& name, const EntryMeta& meta, EntryStream* stream, ArchiveError& error);
    // Writes the whole archive, pulling every stream in the order added.
    bool close(ArchiveError& error);
    void discard();

private:
    ::zip* zip_ = nullptr;
};

} // namespace tarnhollow::tool
