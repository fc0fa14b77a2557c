#include "collector-tool/Archive.h"
#include "platform/posix/WriteAll.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;

void le16(std::vector<unsigned char>& out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void le32(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void le64(std::vector<unsigned char>& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// MS-DOS date and time in local time, as every reader expects.
std::uint32_t dosTime(std::time_t t)
{
    struct tm tm {};
    if (::localtime_r(&t, &tm) == nullptr || tm.tm_year < 80)
        return (1u << 21) | (1u << 16); // 1980-01-01
    if (tm.tm_year > 207)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u; // its last second
    const auto field = [](int value) { return static_cast<std::uint32_t>(value); };
    return (field(tm.tm_year - 80) << 25) | (field(tm.tm_mon + 1) << 21) | (field(tm.tm_mday) << 16) |
           (field(tm.tm_hour) << 11) | (field(tm.tm_min) << 5) | field(tm.tm_sec / 2);
}

// The extended timestamp: the exact second in UTC where it fits.
void timestampField(std::vector<unsigned char>& out, std::time_t t)
{
    if (t < INT32_MIN || t > INT32_MAX)
        return;
    le16(out, 0x5455);
    le16(out, 5);
    out.push_back(1);
    le32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(t)));
}

constexpr unsigned kFlags = (1u << 3) | (1u << 11); // sizes after the data; UTF-8 names

} // namespace

struct Archive::Current {
    std::string name;
    EntryMeta meta;
    std::uint64_t headerOffset = 0;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
};

Archive::Archive(int out, ScratchFile directory)
    : out_(out),
      directory_(std::move(directory))
{
    buffer_.reserve(kBufferSize);
    deflated_.resize(256 << 10);
    auto* z = new z_stream{};
    if (deflateInit2(z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete z;
        fail(ENOMEM);
        return;
    }
    stream_ = z;
}

Archive::~Archive()
{
    delete current_;
    if (stream_ != nullptr) {
        auto* z = static_cast<z_stream*>(stream_);
        deflateEnd(z);
        delete z;
    }
}

void Archive::fail(int error)
{
    if (error_ == 0)
        error_ = error != 0 ? error : EIO;
}

bool Archive::flush()
{
    hash_.update(buffer_.data(), buffer_.size());
    if (const int error = posix::writeAll(out_, buffer_.data(), buffer_.size())) {
        fail(error);
        return false;
    }
    buffer_.clear();
    return true;
}

bool Archive::put(const void* data, std::size_t size)
{
    if (error_ != 0)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    offset_ += size;
    if (buffer_.size() + size > kBufferSize && !flush())
        return false;
    if (size >= kBufferSize) {
        buffer_.assign(bytes, bytes + size);
        return flush();
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool Archive::begin(const std::string& name, const EntryMeta& meta)
{
    if (error_ != 0 || current_ != nullptr || stream_ == nullptr)
        return false;
    const bool folder = !name.empty() && name.back() == '/';
    current_ = new Current{name, meta, offset_, 0, 0, 0};
    current_->meta.compress = meta.compress && !folder;
    std::vector<unsigned char> header;
    le32(header, 0x04034b50);
    le16(header, 45);
    le16(header, kFlags);
    le16(header, current_->meta.compress ? 8 : 0);
    le32(header, dosTime(meta.mtime));
    le32(header, 0); // crc and sizes follow the data
    le32(header, 0);
    le32(header, 0);
    std::vector<unsigned char> extra;
    timestampField(extra, meta.mtime);
    le16(header, static_cast<unsigned>(name.size()));
    le16(header, static_cast<unsigned>(extra.size()));
    header.insert(header.end(), name.begin(), name.end());
    header.insert(header.end(), extra.begin(), extra.end());
    if (current_->meta.compress)
        deflateReset(static_cast<z_stream*>(stream_));
    return put(header.data(), header.size());
}

bool Archive::deflateSome(const unsigned char* data, std::size_t size, bool finish)
{
    auto* z = static_cast<z_stream*>(stream_);
    z->next_in = const_cast<unsigned char*>(data);
    z->avail_in = static_cast<uInt>(size);
    for (;;) {
        z->next_out = deflated_.data();
        z->avail_out = static_cast<uInt>(deflated_.size());
        const int status = deflate(z, finish ? Z_FINISH : Z_NO_FLUSH);
        if (status == Z_STREAM_ERROR) {
            fail(EIO);
            return false;
        }
        const std::size_t produced = deflated_.size() - z->avail_out;
        current_->compressedSize += produced;
        if (produced > 0 && !put(deflated_.data(), produced))
            return false;
        if (finish ? status == Z_STREAM_END : (z->avail_in == 0 && z->avail_out != 0))
            return true;
    }
}

bool Archive::write(const void* data, std::size_t size)
{
    if (error_ != 0 || current_ == nullptr)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    current_->size += size;
    // zlib counts in 32 bits; large blocks go in steps.
    while (size > 0) {
        const std::size_t step = std::min<std::size_t>(size, 1u << 30);
        current_->crc = static_cast<std::uint32_t>(crc32(current_->crc, bytes, static_cast<uInt>(step)));
        if (current_->meta.compress) {
            if (!deflateSome(bytes, step, false))
                return false;
        } else {
            current_->compressedSize += step;
            if (!put(bytes, step))
                return false;
        }
        bytes += step;
        size -= step;
    }
    return true;
}

bool Archive::end()
{
    if (current_ == nullptr)
        return false;
    if (error_ == 0 && current_->meta.compress)
        deflateSome(nullptr, 0, true);
    const Current& c = *current_;
    const bool large = c.size >= kMax32 || c.compressedSize >= kMax32;
    std::vector<unsigned char> descriptor;
    le32(descriptor, 0x08074b50);
    le32(descriptor, c.crc);
    if (large) {
        le64(descriptor, c.compressedSize);
        le64(descriptor, c.size);
    } else {
        le32(descriptor, static_cast<std::uint32_t>(c.compressedSize));
        le32(descriptor, static_cast<std::uint32_t>(c.size));
    }
    put(descriptor.data(), descriptor.size());

    std::vector<unsigned char> zip64;
    if (c.size >= kMax32)
        le64(zip64, c.size);
    if (c.compressedSize >= kMax32)
        le64(zip64, c.compressedSize);
    if (c.headerOffset >= kMax32)
        le64(zip64, c.headerOffset);
    std::vector<unsigned char> extra;
    if (!zip64.empty()) {
        le16(extra, 0x0001);
        le16(extra, static_cast<unsigned>(zip64.size()));
        extra.insert(extra.end(), zip64.begin(), zip64.end());
    }
    timestampField(extra, c.meta.mtime);
    const bool folder = !c.name.empty() && c.name.back() == '/';
    std::vector<unsigned char> record;
    le32(record, 0x02014b50);
    le16(record, (3u << 8) | 45); // made on Unix
    le16(record, 45);
    le16(record, kFlags);
    le16(record, c.meta.compress ? 8 : 0);
    le32(record, dosTime(c.meta.mtime));
    le32(record, c.crc);
    le32(record, c.compressedSize >= kMax32 ? kMax32 : static_cast<std::uint32_t>(c.compressedSize));
    le32(record, c.size >= kMax32 ? kMax32 : static_cast<std::uint32_t>(c.size));
    le16(record, static_cast<unsigned>(c.name.size()));
    le16(record, static_cast<unsigned>(extra.size()));
    le16(record, 0); // comment
    le16(record, 0); // disk
    le16(record, 0); // internal attributes
    // Unix mode in the high half; the MS-DOS folder bit for readers that look there.
    le32(record, ((c.meta.mode & 0xFFFFu) << 16) | (folder ? 0x10u : 0u));
    le32(record, c.headerOffset >= kMax32 ? kMax32 : static_cast<std::uint32_t>(c.headerOffset));
    record.insert(record.end(), c.name.begin(), c.name.end());
    record.insert(record.end(), extra.begin(), extra.end());
    if (!directory_.append(record.data(), record.size()))
        fail(directory_.error());
    delete current_;
    current_ = nullptr;
    ++entries_;
    return error_ == 0;
}

bool Archive::close()
{
    if (error_ != 0 || current_ != nullptr)
        return false;
    const std::uint64_t start = offset_;
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
    const std::uint64_t size = offset_ - start;
    std::vector<unsigned char> tail;
    if (entries_ >= 0xFFFF || size >= kMax32 || start >= kMax32) {
        const std::uint64_t record = offset_;
        le32(tail, 0x06064b50);
        le64(tail, 44);
        le16(tail, (3u << 8) | 45);
        le16(tail, 45);
        le32(tail, 0);
        le32(tail, 0);
        le64(tail, entries_);
        le64(tail, entries_);
        le64(tail, size);
        le64(tail, start);
        le32(tail, 0x07064b50);
        le32(tail, 0);
        le64(tail, record);
        le32(tail, 1);
    }
    le32(tail, 0x06054b50);
    le16(tail, 0);
    le16(tail, 0);
    const unsigned count = entries_ >= 0xFFFF ? 0xFFFF : static_cast<unsigned>(entries_);
    le16(tail, count);
    le16(tail, count);
    le32(tail, size >= kMax32 ? kMax32 : static_cast<std::uint32_t>(size));
    le32(tail, start >= kMax32 ? kMax32 : static_cast<std::uint32_t>(start));
    le16(tail, 0);
    if (!put(tail.data(), tail.size()) || !flush())
        return false;
    if (::fsync(out_) != 0 && errno != EINVAL && errno != EROFS) {
        fail(errno);
        return false;
    }
    sha256_ = hash_.finishHex();
    return true;
}

} // namespace tarnhollow::tool
