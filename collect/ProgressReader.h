// The collector's output as it grows. The file only grows while a run
// lasts, so each poll reads, checks and scans only the bytes added since the
// last one, and keeps no more of them than the unfinished last line. A file
// rewritten in place is read again from its start when that shows cheaply:
// its first or its last bytes read so far are no longer what they were.
#pragma once

#include "collect/ProgressLine.h"
#include "platform/Platform.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tarnhollow {

class ProgressReader {
public:
    struct Progress {
        std::string name, number, total;
    };

    // `chunk`: the most one read asks for; small enough to stay in the
    // processor's cache while it is checked and scanned.
    explicit ProgressReader(std::size_t chunk = 256 * 1024)
        : chunk_(chunk)
    {
    }

    // Catches up with the file at `file`, from its start again when it is
    // another file than before, became shorter or was rewritten. False when the whole file
    // would not read as text: it is missing, no regular file, not UTF-8,
    // ends inside a character, or is empty.
    bool update(FileSystem& files, TextServices& text, const std::filesystem::path& file);

    // After an update that succeeded: the last progress line of the file.
    std::optional<Progress> lastProgress() const;

    // The most the buffer holds beyond the unfinished line.
    static constexpr std::size_t slack = 1024 * 1024;

    // The bytes the reader holds on to.
    std::size_t bufferCapacity() const { return capacity_; }

private:
    void startOver();
    bool readsAsBefore();
    bool readUpTo(uint64_t size, TextServices& text);
    void makeRoom();
    void scan(std::size_t from, TextServices& text);

    std::size_t chunk_;
    std::filesystem::path path_;
    std::unique_ptr<ReadableFile> file_;
    FileStatus opened_;
    FileStatus seen_; // at the last update

    // The first and the last bytes read so far, to tell a rewrite by.
    static constexpr std::size_t sample = 64;
    std::string head_, tail_;

    // The file's bytes from the unfinished line's first one on; bytes
    // [0, checked_) are whole, valid characters.
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::size_t checked_ = 0;
    std::size_t lineStart_ = 0;
    uint64_t read_ = 0; // the file's bytes read so far
    bool invalid_ = false;

    progress::LineMatch unfinished_;
    std::optional<Progress> lastComplete_;
};

} // namespace tarnhollow
