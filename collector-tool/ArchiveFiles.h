// The archive files of one run: the one being written, with the scratch
// files that belong to it, and the ones already finished and named. A run
// that meets the output's file size limit goes on in a next file; a run
// that fills the medium keeps what it has (see SpaceReserve).
#pragma once

#include "collector-tool/Archive.h"
#include "collector-tool/OutputDirectory.h"
#include "collector-tool/ScratchFile.h"
#include "collector-tool/Sources.h"
#include "collector-tool/SpaceReserve.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tarnhollow::tool {

// What one archive file holds besides its entries, until it is closed.
struct Part {
    PendingFile file;
    std::unique_ptr<Archive> archive;
    ScratchFile manifest;
    ScratchFile timeline;
};

class ArchiveFiles {
public:
    // base: the file name without ".zip"; the tree is told to pass over
    // every archive file, which may lie in a collected folder.
    ArchiveFiles(OutputDirectory& directory, std::string base, const Owner& owner, SourceTree& tree,
                 const struct timespec& start);
    ~ArchiveFiles();
    ArchiveFiles(const ArchiveFiles&) = delete;
    ArchiveFiles& operator=(const ArchiveFiles&) = delete;

    // Opens the first file; 0 or errno. notes get what the medium does
    // with owners and modes.
    int start(std::vector<std::string>& notes);
    Part& part() { return part_; }
    int folderFd() const { return directory_.fd(); }

    // Keeps room for closing the current part, whose scratch files hold
    // pending bytes; 0 or errno (ENOSPC when the medium is full).
    int keepRoom(std::uint64_t pending);
    // Gives back the room kept, to close the part after a full medium.
    void releaseRoom() { reserve_.release(); }
    // Whether the file size limit, not the medium, stopped the archive.
    bool atSizeLimit(int error) const { return error == EFBIG; }
    std::uint64_t sizeLimit() const { return limit_; }

    // Names the closed current part; with more, opens the next one. 0 or
    // errno; the name goes to published().
    int finish(const std::string& suffix, bool more);
    // Drops the current part's placeholder name, if it has one.
    void discard() { directory_.discard(part_.file); }

    const std::vector<Published>& published() const { return published_; }
    // "uid:gid" the medium gives the archives instead of the owner's, or empty.
    const std::string& ownerKept() const { return ownerKept_; }
    std::size_t partNumber() const { return published_.size() + 1; }

private:
    int openPart();
    void dateAfterStart(int fd) const;
    void noteMedium(std::vector<std::string>& notes);

    OutputDirectory& directory_;
    std::string base_;
    Owner owner_;
    SourceTree& tree_;
    struct timespec start_;
    SpaceReserve reserve_;
    std::uint64_t limit_ = UINT64_MAX;
    Part part_;
    std::vector<int> finished_; // descriptors of named parts, held until the end
    std::vector<Published> published_;
    std::string ownerKept_;
};

// The largest file the medium and this process's limit allow.
std::uint64_t fileSizeLimit(int fd);

} // namespace tarnhollow::tool
