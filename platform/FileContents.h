// A whole file's bytes, read into a buffer that is not cleared first: the
// progress file can reach hundreds of MiB and is read every half second on
// the main thread, and clearing would be a second pass over all of it.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace tarnhollow {

class FileContents {
public:
    FileContents() = default;

    // Room for `capacity` bytes, none of them read yet.
    explicit FileContents(std::size_t capacity)
        : bytes_(std::make_unique_for_overwrite<char[]>(capacity)), capacity_(capacity) {}

    std::string_view view() const { return {bytes_.get(), size_}; }
    operator std::string_view() const { return view(); }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }

    // Where the next bytes go, and how many fit there.
    char* unread() { return bytes_.get() + size_; }
    std::size_t room() const { return capacity_ - size_; }
    void advance(std::size_t count) { size_ += count; }
    // Makes room for `extra` more bytes, keeping what was read.
    void grow(std::size_t extra)
    {
        FileContents larger(capacity_ + extra);
        if (size_)
            std::memcpy(larger.bytes_.get(), bytes_.get(), size_);
        larger.size_ = size_;
        *this = std::move(larger);
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

} // namespace tarnhollow
