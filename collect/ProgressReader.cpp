#include "collect/ProgressReader.h"

#include "text/Utf8.h"

#include <algorithm>
#include <cstring>

namespace tarnhollow {

namespace {

ProgressReader::Progress progressFrom(std::string_view text, const progress::Located& at)
{
    return {std::string(at.name.of(text)), std::string(at.number.of(text)), std::string(at.total.of(text))};
}

} // namespace

void ProgressReader::startOver()
{
    used_ = checked_ = lineStart_ = 0;
    read_ = 0;
    invalid_ = false;
    head_.clear();
    tail_.clear();
    unfinished_ = {};
    lastComplete_.reset();
}

bool ProgressReader::update(FileSystem& files, TextServices& text, const std::filesystem::path& file)
{
    if (file != path_) {
        *this = ProgressReader(chunk_);
        path_ = file;
    }
    auto now = files.regularFileStatus(file);
    if (!now)
        return false;
    if (!file_ || !now->sameFile(opened_)) {
        startOver();
        file_ = files.openRegularFile(file);
        now = file_ ? file_->status() : std::nullopt;
        if (!now) {
            file_.reset();
            return false;
        }
        opened_ = *now;
    } else if (now->size < read_ ||
               ((now->size != seen_.size || now->modified != seen_.modified) && !readsAsBefore())) {
        startOver();
    }
    seen_ = *now;
    // The size seen now bounds the work: a file that keeps growing is not
    // chased.
    return readUpTo(now->size, text) && read_ > 0 && checked_ == used_;
}

bool ProgressReader::readsAsBefore()
{
    std::string now(sample, '\0');
    const auto same = [&](uint64_t at, const std::string& bytes) {
        const auto got = file_->readAt(at, now.data(), bytes.size());
        return got && std::string_view(now.data(), *got) == bytes;
    };
    return same(0, head_) && same(read_ - tail_.size(), tail_);
}

bool ProgressReader::readUpTo(uint64_t size, TextServices& text)
{
    while (!invalid_ && read_ < size) {
        makeRoom();
        const std::size_t wanted = static_cast<std::size_t>(std::min<uint64_t>(capacity_ - used_, size - read_));
        const auto got = file_->readAt(read_, buffer_.get() + used_, wanted);
        if (!got)
            return false;
        if (*got == 0)
            break;
        const std::string_view bytes(buffer_.get() + used_, *got);
        head_.append(bytes.substr(0, sample - head_.size()));
        tail_.append(bytes.substr(bytes.size() - std::min(bytes.size(), sample)));
        tail_.erase(0, tail_.size() - std::min(tail_.size(), sample));
        used_ += *got;
        read_ += *got;
        const std::size_t from = checked_;
        const auto whole = utf8::wholeCharacters({buffer_.get() + checked_, used_ - checked_});
        if (!whole) {
            // As for a whole-file check: nothing after this counts.
            invalid_ = true;
            break;
        }
        checked_ += *whole;
        scan(from, text);
    }
    return !invalid_;
}

void ProgressReader::makeRoom()
{
    // Complete lines are done with: keep the unfinished one, at the front.
    if (lineStart_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + lineStart_, used_ - lineStart_);
        used_ -= lineStart_;
        checked_ -= lineStart_;
        lineStart_ = 0;
    }
    if (capacity_ - used_ >= chunk_ / 4)
        return;
    // A long unfinished line gets up to 1 MiB to grow into, so that it is
    // not copied again on every poll.
    const std::size_t room = std::max(chunk_, std::min(used_, slack));
    auto larger = std::make_unique_for_overwrite<char[]>(used_ + room);
    if (used_ > 0)
        std::memcpy(larger.get(), buffer_.get(), used_);
    buffer_ = std::move(larger);
    capacity_ = used_ + room;
}

void ProgressReader::scan(std::size_t from, TextServices& text)
{
    const std::string_view checked(buffer_.get(), checked_);
    const std::size_t firstEnd = progress::nextLineEnd(checked, from);
    if (firstEnd == std::string_view::npos) {
        unfinished_.extend(checked.substr(lineStart_), false, text);
        return;
    }
    // The unfinished line is complete now; lines that follow it whole are
    // searched from their end back, and only as far as the last match.
    unfinished_.extend(checked.substr(lineStart_, firstEnd - lineStart_), true, text);
    if (const auto located = unfinished_.match())
        lastComplete_ = progressFrom(checked.substr(lineStart_), *located);
    const std::size_t wholeLines = firstEnd + progress::lineEndAt(checked, firstEnd);
    const std::size_t lastEnd = wholeLines + progress::pastLastLineEnd(checked.substr(wholeLines));
    const std::string_view lines = checked.substr(wholeLines, lastEnd - wholeLines);
    if (const auto located = progress::findLast(lines, text))
        lastComplete_ = progressFrom(lines, *located);
    lineStart_ = lastEnd;
    unfinished_ = {};
    unfinished_.extend(checked.substr(lineStart_), false, text);
}

std::optional<ProgressReader::Progress> ProgressReader::lastProgress() const
{
    const std::string_view line(buffer_.get() + lineStart_, checked_ - lineStart_);
    if (const auto located = unfinished_.match())
        return progressFrom(line, *located);
    return lastComplete_;
}

} // namespace tarnhollow
