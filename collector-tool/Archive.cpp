#include "collector-tool/Archive.h"
#include "platform/posix/WriteAll.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
// Deflate can grow incompressible data a little; below this bound an entry
// cannot reach 4 GiB either way.
constexpr std::uint64_t kZip64From = 0xF0000000u;

constexpr std::size_t kZeroChunk = 1 << 20;
// Blocks of one entry submitted and not laid down yet: enough to keep every
// worker busy, few enough that memory stays flat on any machine.
constexpr std::size_t kInFlight = 24;

// One mebibyte of zeros as raw deflate blocks that end on a byte boundary
// and refer to nothing before them, so that copies can follow one another
// and the rest of an entry's stream.
struct ZeroChunk {
    std::vector<unsigned char> deflated;
    std::uint32_t crc = 0;
    ZeroChunk()
    {
        const std::vector<unsigned char> zeros(kZeroChunk, 0);
        crc = static_cast<std::uint32_t>(crc32(0, zeros.data(), kZeroChunk));
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        deflated.resize(deflateBound(&z, kZeroChunk) + 64);
        z.next_in = const_cast<unsigned char*>(zeros.data());
        z.avail_in = kZeroChunk;
        z.next_out = deflated.data();
        z.avail_out = static_cast<uInt>(deflated.size());
        deflate(&z, Z_FULL_FLUSH);
        deflated.resize(deflated.size() - z.avail_out);
        deflateEnd(&z);
    }
};

} // namespace

Archive::Archive(int out, ScratchFile directory, DeflatePool& pool)
    : out_(out),
      directory_(std::move(directory)),
      pool_(pool)
{
    buffer_.reserve(kBufferSize);
}

Archive::~Archive() = default;

void Archive::fail(int error)
{
    if (error_ == 0)
        error_ = error != 0 ? error : EIO;
}

// Hashes the file up to limit, but never into an entry whose header is not
// final yet: what was written before its header is read back from the file.
void Archive::hashUpTo(std::uint64_t limit)
{
    if (current_ != nullptr)
        limit = std::min(limit, current_->headerOffset);
    std::vector<unsigned char> chunk;
    while (hashed_ < std::min(limit, bufferStart_)) {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, bufferStart_ - hashed_)));
        const ssize_t n = ::pread(out_, chunk.data(), chunk.size(), static_cast<off_t>(hashed_));
        if (n <= 0) {
            fail(n < 0 ? errno : EIO);
            return;
        }
        hash_.update(chunk.data(), static_cast<std::size_t>(n));
        hashed_ += static_cast<std::uint64_t>(n);
    }
    const std::uint64_t end = std::min(limit, bytesWritten());
    if (hashed_ >= bufferStart_ && hashed_ < end) {
        hash_.update(buffer_.data() + (hashed_ - bufferStart_), static_cast<std::size_t>(end - hashed_));
        hashed_ = end;
    }
}

bool Archive::flush()
{
    hashUpTo(bytesWritten());
    if (const int error = posix::writeAllAt(out_, buffer_.data(), buffer_.size(), bufferStart_)) {
        fail(error);
        return false;
    }
    bufferStart_ += buffer_.size();
    buffer_.clear();
    return error_ == 0;
}

bool Archive::put(const void* data, std::size_t size)
{
    if (error_ != 0)
        return false;
    const std::uint64_t room = closing_ ? limit_ : (limit_ > reserve_ ? limit_ - reserve_ : 0);
    if (bytesWritten() + size > room) {
        fail(EFBIG);
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (buffer_.size() + size > kBufferSize && !flush())
        return false;
    if (size >= kBufferSize) {
        buffer_.assign(bytes, bytes + size);
        return flush();
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool Archive::patch(std::uint64_t offset, const zip::Bytes& bytes)
{
    if (offset >= bufferStart_) {
        std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset - bufferStart_));
        return true;
    }
    if (const int error = posix::writeAllAt(out_, bytes.data(), bytes.size(), offset)) {
        fail(error);
        return false;
    }
    return true;
}

bool Archive::begin(const std::string& name, const EntryMeta& meta)
{
    if (error_ != 0 || current_ != nullptr)
        return false;
    const bool folder = !name.empty() && name.back() == '/';
    current_ = std::make_unique<zip::EntryFacts>();
    current_->name = name;
    current_->mtime = meta.mtime;
    current_->mode = meta.mode;
    current_->deflated = meta.compress && !folder;
    current_->zip64 = meta.sizeBound >= kZip64From;
    current_->headerOffset = bytesWritten();
    filling_.reset();
    inFlight_.clear();
    tail_.clear();
    judged_ = false;
    streamEnded_ = false;
    const zip::Bytes header = zip::localHeader(*current_);
    return put(header.data(), header.size());
}

bool Archive::putStored(const unsigned char* data, std::size_t size)
{
    current_->crc = static_cast<std::uint32_t>(crc32(current_->crc, data, static_cast<uInt>(size)));
    current_->size += size;
    current_->compressedSize += size;
    return put(data, size);
}

// The content turned out to be compressed already: nothing of the entry's
// data is written yet, so its header can still say "stored".
bool Archive::storeFromNowOn()
{
    current_->deflated = false;
    return patch(current_->headerOffset, zip::localHeader(*current_));
}

bool Archive::land(const Block& block)
{
    if (block.failed) {
        fail(ENOMEM);
        return false;
    }
    if (block.stored)
        return (!current_->deflated || storeFromNowOn()) && putStored(block.input.data(), block.input.size());
    current_->crc = static_cast<std::uint32_t>(crc32_combine(current_->crc, block.crc, block.input.size()));
    current_->size += block.input.size();
    current_->compressedSize += block.output.size();
    streamEnded_ = block.last;
    return put(block.output.data(), block.output.size());
}

bool Archive::landOldest()
{
    const std::shared_ptr<Block> block = std::move(inFlight_.front());
    inFlight_.pop_front();
    pool_.wait(*block);
    return land(*block);
}

// Hands the block being filled to the workers; the first block of an entry
// decides whether the entry is deflated at all.
bool Archive::submit(bool last)
{
    std::shared_ptr<Block> block = filling_ ? std::move(filling_) : std::make_shared<Block>();
    block->last = last;
    block->dictionary = tail_;
    const auto& input = block->input;
    tail_.insert(tail_.end(), input.end() - static_cast<std::ptrdiff_t>(std::min(input.size(), kDictionarySize)),
                 input.end());
    if (tail_.size() > kDictionarySize)
        tail_.erase(tail_.begin(), tail_.end() - static_cast<std::ptrdiff_t>(kDictionarySize));
    if (!judged_) {
        judged_ = true;
        block->mayStore = last; // the whole entry: the worker judges
        if (!last && looksCompressed(input.data(), input.size()))
            return storeFromNowOn() && putStored(input.data(), input.size());
    }
    pool_.submit(block);
    inFlight_.push_back(std::move(block));
    return inFlight_.size() <= kInFlight || landOldest();
}

bool Archive::write(const void* data, std::size_t size)
{
    if (error_ != 0 || current_ == nullptr)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        // zlib counts in 32 bits; large writes go in steps.
        const std::size_t step = std::min<std::size_t>(size, current_->deflated ? kBlockSize : 1u << 30);
        if (!current_->deflated) {
            if (!putStored(bytes, step))
                return false;
        } else {
            if (!filling_) {
                filling_ = std::make_shared<Block>();
                filling_->input.reserve(kBlockSize);
            }
            auto& input = filling_->input;
            const std::size_t take = std::min(step, kBlockSize - input.size());
            input.insert(input.end(), bytes, bytes + take);
            if (input.size() == kBlockSize && !submit(false))
                return false;
            bytes += take;
            size -= take;
            continue;
        }
        bytes += step;
        size -= step;
    }
    return true;
}

bool Archive::writeBlock(const Block& block)
{
    // Only as the entry's whole content: nothing of it may be under way.
    if (error_ != 0 || current_ == nullptr || judged_ || filling_ || current_->size != 0)
        return false;
    judged_ = true;
    return land(block);
}

bool Archive::writeZeros(std::size_t count)
{
    if (error_ != 0 || current_ == nullptr)
        return false;
    if (!current_->deflated || count % kZeroChunk != 0) {
        const std::vector<unsigned char> zeros(std::min(count, kZeroChunk), 0);
        for (std::size_t left = count; left > 0; left -= std::min(left, kZeroChunk))
            if (!write(zeros.data(), std::min(left, kZeroChunk)))
                return false;
        return true;
    }
    static const ZeroChunk chunk;
    // What came before goes out first, ending where a new block may start.
    judged_ = true;
    if (filling_ && !submit(false))
        return false;
    while (!inFlight_.empty())
        if (!landOldest())
            return false;
    for (std::size_t done = 0; done < count; done += kZeroChunk) {
        current_->crc = static_cast<std::uint32_t>(crc32_combine(current_->crc, chunk.crc, kZeroChunk));
        current_->size += kZeroChunk;
        current_->compressedSize += chunk.deflated.size();
        if (!put(chunk.deflated.data(), chunk.deflated.size()))
            return false;
    }
    tail_.assign(kDictionarySize, 0);
    return true;
}

bool Archive::end()
{
    if (current_ == nullptr || error_ != 0)
        return false;
    if (current_->deflated && !streamEnded_ && !submit(true))
        return false;
    while (!inFlight_.empty())
        if (!landOldest())
            return false;
    const zip::EntryFacts& e = *current_;
    if (!e.zip64 && (e.size >= zip::kMax32 || e.compressedSize >= zip::kMax32)) {
        fail(EOVERFLOW); // larger than its caller said it could be
        return false;
    }
    if (!patch(e.headerOffset + zip::kCrcOffset, zip::localSizes(e)) ||
        (e.zip64 && !patch(e.headerOffset + zip::zip64SizesOffset(e), zip::zip64Sizes(e))))
        return false;
    const zip::Bytes record = zip::centralRecord(e);
    // A record the scratch file could not take yet stays in its buffer:
    // the entry is complete either way.
    const bool recorded = directory_.append(record.data(), record.size());
    current_.reset();
    complete_ = bytesWritten();
    ++entries_;
    if (!recorded)
        fail(directory_.error());
    return recorded;
}

bool Archive::rollback()
{
    if (error_ != 0 && error_ != EFBIG && error_ != ENOSPC && error_ != EDQUOT)
        return false;
    current_.reset();
    filling_.reset();
    inFlight_.clear();
    // A failed flush may have left part of the buffer in the file.
    const std::uint64_t keep = std::min(complete_, bufferStart_);
    if (::ftruncate(out_, static_cast<off_t>(keep)) != 0)
        return false;
    if (complete_ >= bufferStart_) {
        buffer_.resize(static_cast<std::size_t>(complete_ - bufferStart_));
    } else {
        buffer_.clear();
        bufferStart_ = complete_;
    }
    directory_.clearError();
    error_ = 0;
    return true;
}

bool Archive::close()
{
    if (error_ != 0 || current_ != nullptr)
        return false;
    closing_ = true;
    const std::uint64_t start = bytesWritten();
    if (!directory_.rewind()) {
        fail(directory_.error());
        return false;
    }
    std::vector<unsigned char> chunk(256 << 10);
    for (;;) {
        const long n = directory_.read(chunk.data(), chunk.size());
        if (n < 0) {
            fail(directory_.error());
            return false;
        }
        if (n == 0)
            break;
        if (!put(chunk.data(), static_cast<std::size_t>(n)))
            return false;
    }
    const zip::Bytes tail = zip::endRecords(entries_, start, bytesWritten() - start);
    if (!put(tail.data(), tail.size()) || !flush())
        return false;
    hashUpTo(bytesWritten());
    if (::fsync(out_) != 0 && errno != EINVAL && errno != EROFS) {
        fail(errno);
        return false;
    }
    sha256_ = hash_.finishHex();
    return error_ == 0;
}

} // namespace tarnhollow::tool
