// The folder the archives go to, held open: every name in it is created,
// linked, examined and removed relative to that descriptor, never through a
// link, and a name that is already taken is passed over for a fresh one.
// Other users may be able to write the folder; nothing they place there is
// followed, replaced or handed to them. Every call returns 0 or an errno.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace tarnhollow::tool {

struct Owner {
    bool valid = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string note;
};

// One archive file being written: its descriptor and, where the file
// system cannot keep a file nameless, the placeholder name it has meanwhile.
struct PendingFile {
    int fd = -1;
    std::string placeholder;
};

struct Published {
    std::string name;     // the archive's file name
    int sidecarError = 0; // why "<name>.sha256" is missing, or 0
};

class OutputDirectory {
public:
    OutputDirectory() = default;
    ~OutputDirectory();
    OutputDirectory(const OutputDirectory&) = delete;
    OutputDirectory& operator=(const OutputDirectory&) = delete;

    int open(const std::string& path, std::optional<std::pair<uint64_t, uint64_t>> pin = std::nullopt);
    int fd() const { return fd_; }

    // Creates a file to write an archive into: nameless where the file
    // system allows, otherwise under "<stem>.zip.part" (or a fresh variant).
    int create(const std::string& stem, PendingFile& file);

    // Gives the written file its final name "<stem>[-n].zip", then writes
    // "<name>.sha256" beside it in sha256sum's format. A sidecar that
    // cannot be written leaves the archive as it is.
    int publish(PendingFile& file, const std::string& stem, const std::string& sha256Hex, const Owner& owner,
                Published& published);

    // Removes the placeholder name if publishing never happened.
    void discard(PendingFile& file);

private:
    int writeSidecar(const std::string& name, const std::string& sha256Hex, const Owner& owner);

    int fd_ = -1;
};

// "<stem>-2", "<stem>-3", ... then random suffixes, which cannot be guessed
// and taken in advance.
std::string candidateName(const std::string& stem, int attempt);

} // namespace tarnhollow::tool
