#include "collector-tool/deflate/Block.h"

#include "platform/digest/Sha256.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace tarnhollow::tool {

namespace {

// One raw deflate stream per thread and level, reused block after block.
class Stream {
public:
    Stream(int level, int windowBits, int memLevel)
        : level_(level)
    {
        ok_ = deflateInit2(&z_, level, Z_DEFLATED, -windowBits, memLevel, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Stream()
    {
        if (ok_)
            deflateEnd(&z_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Deflates data after dictionary into out, ending the stream when last
    // and on a byte boundary otherwise. False when zlib refuses.
    bool run(const std::vector<unsigned char>& dictionary, const unsigned char* data, std::size_t size, bool last,
             std::vector<unsigned char>& out)
    {
        if (!ok_ || deflateReset(&z_) != Z_OK || (level_ == 6 && deflateTune(&z_, 8, 16, 128, 64) != Z_OK))
            return false;
        if (!dictionary.empty() &&
            deflateSetDictionary(&z_, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK)
            return false;
        out.resize(deflateBound(&z_, static_cast<uLong>(size)) + 16);
        z_.next_in = const_cast<unsigned char*>(data);
        z_.avail_in = static_cast<uInt>(size);
        std::size_t produced = 0;
        for (;;) {
            z_.next_out = out.data() + produced;
            z_.avail_out = static_cast<uInt>(out.size() - produced);
            const int status = deflate(&z_, last ? Z_FINISH : Z_SYNC_FLUSH);
            produced = out.size() - z_.avail_out;
            if (last ? status == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out != 0))
                break;
            if (status == Z_STREAM_ERROR)
                return false;
            out.resize(out.size() * 2); // past the bound: a flush's few bytes
        }
        out.resize(produced);
        return true;
    }

private:
    z_stream z_{};
    int level_;
    bool ok_ = false;
};

Stream& streamFor(int level)
{
    thread_local Stream normal(6, MAX_WBITS, 8);
    // Only ever given a 16 KiB sample: a window and tables to match, a
    // third of the memory.
    thread_local Stream fast(1, 14, 6);
    return level == 1 ? fast : normal;
}

bool startsWith(const unsigned char* data, std::size_t size, std::size_t at, const char* magic, std::size_t length)
{
    return size >= at + length && std::memcmp(data + at, magic, length) == 0;
}

bool compressedFormat(const unsigned char* d, std::size_t n)
{
    static const struct {
        std::size_t at;
        const char* magic;
        std::size_t length;
    } formats[] = {
        {0, "\x1f\x8b", 2}, // gzip
        {0, "BZh", 3},      // bzip2
        {0,
         "\xfd"
         "7zXZ\0",
         6},                          // xz
        {0, "\x28\xb5\x2f\xfd", 4},   // zstd
        {0, "\x04\x22\x4d\x18", 4},   // lz4
        {0, "PK\x03\x04", 4},         // zip and the formats built on it
        {0, "7z\xbc\xaf\x27\x1c", 6}, // 7z
        {0, "\xff\xd8\xff", 3},       // JPEG
        {0, "\x89PNG", 4},            // PNG
        {4, "ftyp", 4},               // MP4, MOV, HEIC
        {0, "bvx2", 4},               // LZFSE
        {0, "xar!", 4},               // xar packages
    };
    return std::any_of(std::begin(formats), std::end(formats),
                       [&](const auto& f) { return startsWith(d, n, f.at, f.magic, f.length); });
}

// Bits per byte of data, counted byte by byte: near 8 for compressed or
// random data, 4 to 6 for text and programs.
double byteEntropy(const unsigned char* data, std::size_t size)
{
    std::size_t counts[256] = {};
    for (std::size_t i = 0; i < size; ++i)
        ++counts[data[i]];
    double bits = 0;
    for (const std::size_t count : counts)
        if (count != 0) {
            const double p = static_cast<double>(count) / static_cast<double>(size);
            bits -= p * std::log2(p);
        }
    return bits;
}

} // namespace

bool looksCompressed(const unsigned char* data, std::size_t size)
{
    if (compressedFormat(data, size))
        return true;
    // Too little to judge: deflate tries, and the smaller form is kept.
    constexpr std::size_t kLeast = 4 << 10;
    constexpr std::size_t kSample = 16 << 10;
    if (size < kLeast)
        return false;
    const std::size_t sample = std::min(size, kSample);
    if (byteEntropy(data, sample) < 7.9)
        return false;
    // Random-looking bytes may still repeat: deflate's fastest level tells.
    std::vector<unsigned char> out;
    return streamFor(1).run({}, data, sample, true, out) && out.size() * 100 >= sample * 97;
}

void deflateBlock(Block& block)
{
    const unsigned char* data = block.input.data();
    const std::size_t size = block.input.size();
    block.crc = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(size)));
    if (block.hashInput) {
        Sha256 hash;
        hash.update(data, size);
        block.sha256 = hash.finishHex();
    }
    block.stored = block.mayStore && looksCompressed(data, size);
    if (block.stored) {
        block.output.clear();
        return;
    }
    block.failed = !streamFor(6).run(block.dictionary, data, size, block.last, block.output);
    if (!block.failed && block.mayStore && block.output.size() >= size) {
        block.stored = true;
        block.output.clear();
    }
}

} // namespace tarnhollow::tool
