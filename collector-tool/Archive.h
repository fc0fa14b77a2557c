// The zip writer: entries are written one after another straight into an
// open file, so that memory does not grow with the number of entries. The
// central directory goes to a scratch file until the end. The file is
// seekable, so each local header gets its sizes and CRC once the entry is
// done: no data descriptors, which streaming readers refuse.
//
// One entry at a time goes through here, in order. Its content is cut into
// blocks that the deflate pool's workers deflate side by side; each block's
// output is laid down in order once it is ready. A caller that deflated a
// small file's whole content ahead hands that block over with writeBlock().
#pragma once

#include "collector-tool/ScratchFile.h"
#include "collector-tool/ZipRecords.h"
#include "collector-tool/deflate/DeflatePool.h"
#include "platform/digest/Sha256.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace tarnhollow::tool {

struct EntryMeta {
    std::time_t mtime = 0;
    unsigned mode = 0; // st_mode as found; the zip gets a safe form of it
    // Deflate, unless the content turns out to be compressed already;
    // otherwise stored.
    bool compress = true;
    // The most the entry can hold; from 4 GiB on, the local header gets a
    // zip64 field. Unknown sizes must be bounded by the caller.
    std::uint64_t sizeBound = 0;
};

class Archive {
public:
    // Writes into out (an open, empty file, not owned); the central
    // directory is kept in directory until close().
    Archive(int out, ScratchFile directory, DeflatePool& pool = DeflatePool::shared());
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // name ends in '/' for a folder. Each begin() is followed by write()s
    // and one end(). Every call returns false once writing has failed.
    bool begin(const std::string& name, const EntryMeta& meta);
    bool write(const void* data, std::size_t size);
    // count zero bytes, the hole of a sparse file: whole mebibytes go in as
    // one block compressed once, not compressed again each time.
    bool writeZeros(std::size_t count);
    // The whole content of the entry begun last, deflated (or judged not
    // worth it) already: a block with last set and no dictionary.
    bool writeBlock(const Block& block);
    bool end();
    // Writes the central directory; the file is complete afterwards.
    bool close();

    // Entries may take the file up to limit minus reserve bytes; past it
    // writing fails with EFBIG, so that the reserve is left for the closing
    // records. What closes the archive may use the reserve.
    void setLimit(std::uint64_t limit) { limit_ = limit; }
    void setReserve(std::uint64_t reserve) { reserve_ = reserve; }
    // Forgets the entry in progress and the failure: the file ends after the
    // last complete entry again, ready to be closed. False if it cannot.
    bool rollback();

    // Marks the archive failed, e.g. when a scratch file could not be written.
    void fail(int error);
    // SHA-256 of the whole archive, after close().
    const std::string& sha256() const { return sha256_; }
    // The errno behind the first failure.
    int error() const { return error_; }
    std::uint64_t entries() const { return entries_; }
    std::uint64_t directoryBytes() const { return directory_.size(); }
    std::uint64_t bytesWritten() const { return bufferStart_ + buffer_.size(); }

private:
    bool put(const void* data, std::size_t size);
    bool flush();
    bool submit(bool last);
    bool landOldest();
    bool land(const Block& block);
    bool storeFromNowOn();
    bool putStored(const unsigned char* data, std::size_t size);
    bool patch(std::uint64_t offset, const zip::Bytes& bytes);
    void hashUpTo(std::uint64_t limit);

    int out_;
    ScratchFile directory_;
    std::vector<unsigned char> buffer_;
    std::uint64_t bufferStart_ = 0; // where buffer_ goes in the file
    std::uint64_t complete_ = 0;    // the end of the last complete entry
    std::uint64_t hashed_ = 0;      // bytes of the file hashed so far
    std::uint64_t entries_ = 0;
    std::uint64_t limit_ = UINT64_MAX;
    std::uint64_t reserve_ = 0;
    bool closing_ = false;
    int error_ = 0;
    Sha256 hash_;
    std::string sha256_;
    std::unique_ptr<zip::EntryFacts> current_;
    DeflatePool& pool_;
    // The current entry's block being filled, and those submitted before it.
    std::shared_ptr<Block> filling_;
    std::deque<std::shared_ptr<Block>> inFlight_;
    std::vector<unsigned char> tail_; // the entry's last 32 KiB submitted
    bool judged_ = false;             // whether deflating the entry was judged worth it
    bool streamEnded_ = false;
};

} // namespace tarnhollow::tool
