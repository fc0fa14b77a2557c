// The folder the archive goes to, held open: every name in it is created,
// linked, examined and removed relative to that descriptor, never through a
// link, and a name that is already taken is passed over for a fresh one.
// Other users may be able to write the folder; nothing they place there is
// followed, replaced or handed to them.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace tarnhollow::tool {

class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // 0 or errno. With a pin (device, inode), no component of the path may
    // be a link and the folder must be that one (ESTALE when it is not).
    int open(const std::string& path, std::optional<std::pair<uint64_t, uint64_t>> pin = std::nullopt);
    int fd() const { return fd_; }

    // Creates the file the archive is written into: nameless where the file
    // system allows, otherwise under "<base>.zip.part" (or a fresh variant).
    // Returns the descriptor or -errno.
    int createArchiveFile(const std::string& base);

    // Gives the written file (fd) its final name "<base>[-n].zip", with
    // "<name>.sha256" beside it in sha256sum's format. 0 or errno; name is
    // the archive's file name.
    int publish(int fd, const std::string& base, const std::string& sha256Hex, uid_t uid, gid_t gid, bool chown,
                std::string& name);

    // Removes the placeholder name if publishing never happened.
    void discard(int fd);

private:
    int fd_ = -1;
    std::string partName_; // empty when the file is nameless
};

// "<base>-2", "<base>-3", ... then random suffixes, which cannot be guessed
// and taken in advance.
std::string candidateName(const std::string& base, int attempt);

} // namespace tarnhollow::tool
