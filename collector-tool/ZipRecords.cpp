#include "collector-tool/ZipRecords.h"

#include <sys/stat.h>

namespace tarnhollow::tool::zip {

namespace {

constexpr unsigned kUtf8Names = 1u << 11;

void le16(Bytes& out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void le32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void le64(Bytes& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint32_t clamp32(std::uint64_t value) { return value >= kMax32 ? kMax32 : static_cast<std::uint32_t>(value); }

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
void timestampField(Bytes& out, std::time_t t)
{
    if (t < INT32_MIN || t > INT32_MAX)
        return;
    le16(out, 0x5455);
    le16(out, 5);
    out.push_back(1);
    le32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(t)));
}

unsigned versionNeeded(const EntryFacts& e) { return e.zip64 ? 45 : 20; }

void commonFields(Bytes& out, const EntryFacts& e)
{
    le16(out, versionNeeded(e));
    le16(out, kUtf8Names);
    le16(out, e.deflated ? 8 : 0);
    le32(out, dosTime(e.mtime));
}

} // namespace

unsigned extractedMode(unsigned mode, bool folder)
{
    return folder ? (S_IFDIR | (mode & 0777) | 0700) : (S_IFREG | (mode & 0777) | 0400);
}

Bytes localHeader(const EntryFacts& e)
{
    Bytes header;
    le32(header, 0x04034b50);
    commonFields(header, e);
    header.insert(header.end(), 12, 0); // crc and sizes, patched at the entry's end
    Bytes extra;
    if (e.zip64) {
        le16(extra, 0x0001);
        le16(extra, 16);
        extra.insert(extra.end(), 16, 0);
    }
    timestampField(extra, e.mtime);
    le16(header, static_cast<unsigned>(e.name.size()));
    le16(header, static_cast<unsigned>(extra.size()));
    header.insert(header.end(), e.name.begin(), e.name.end());
    header.insert(header.end(), extra.begin(), extra.end());
    return header;
}

std::size_t zip64SizesOffset(const EntryFacts& e) { return 30 + e.name.size() + 4; }

Bytes localSizes(const EntryFacts& e)
{
    Bytes out;
    le32(out, e.crc);
    le32(out, e.zip64 ? kMax32 : static_cast<std::uint32_t>(e.compressedSize));
    le32(out, e.zip64 ? kMax32 : static_cast<std::uint32_t>(e.size));
    return out;
}

Bytes zip64Sizes(const EntryFacts& e)
{
    Bytes out;
    le64(out, e.size);
    le64(out, e.compressedSize);
    return out;
}

Bytes centralRecord(const EntryFacts& e)
{
    Bytes zip64;
    if (e.size >= kMax32)
        le64(zip64, e.size);
    if (e.compressedSize >= kMax32)
        le64(zip64, e.compressedSize);
    if (e.headerOffset >= kMax32)
        le64(zip64, e.headerOffset);
    Bytes extra;
    if (!zip64.empty()) {
        le16(extra, 0x0001);
        le16(extra, static_cast<unsigned>(zip64.size()));
        extra.insert(extra.end(), zip64.begin(), zip64.end());
    }
    timestampField(extra, e.mtime);
    const bool folder = !e.name.empty() && e.name.back() == '/';
    Bytes record;
    le32(record, 0x02014b50);
    le16(record, (3u << 8) | 45); // made on Unix
    commonFields(record, e);
    le32(record, e.crc);
    le32(record, clamp32(e.compressedSize));
    le32(record, clamp32(e.size));
    le16(record, static_cast<unsigned>(e.name.size()));
    le16(record, static_cast<unsigned>(extra.size()));
    le16(record, 0); // comment
    le16(record, 0); // disk
    le16(record, 0); // internal attributes
    // Unix mode in the high half; the MS-DOS folder bit for readers that look there.
    le32(record, (extractedMode(e.mode, folder) << 16) | (folder ? 0x10u : 0u));
    le32(record, clamp32(e.headerOffset));
    record.insert(record.end(), e.name.begin(), e.name.end());
    record.insert(record.end(), extra.begin(), extra.end());
    return record;
}

Bytes endRecords(std::uint64_t entries, std::uint64_t start, std::uint64_t size)
{
    Bytes tail;
    if (entries >= 0xFFFF || size >= kMax32 || start >= kMax32) {
        const std::uint64_t record = start + size;
        le32(tail, 0x06064b50);
        le64(tail, 44);
        le16(tail, (3u << 8) | 45);
        le16(tail, 45);
        le32(tail, 0);
        le32(tail, 0);
        le64(tail, entries);
        le64(tail, entries);
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
    const unsigned count = entries >= 0xFFFF ? 0xFFFF : static_cast<unsigned>(entries);
    le16(tail, count);
    le16(tail, count);
    le32(tail, clamp32(size));
    le32(tail, clamp32(start));
    le16(tail, 0);
    return tail;
}

} // namespace tarnhollow::tool::zip
