// The file operations of the seam on any POSIX system (Linux and macOS).
#pragma once

#include "platform/Platform.h"

#include <sys/stat.h>

namespace tarnhollow {

// When the item that `info` describes last changed; PosixReadableFile.cpp.
Date modificationDateOf(const struct stat& info);

class PosixFileSystem final : public FileSystem {
public:
    std::optional<std::filesystem::path> makePrivateFolder(const std::filesystem::path& parent) override;
    bool createEmptyFile(const std::filesystem::path& file) override;
    std::optional<std::string> sha256OfFile(const std::filesystem::path& file) override;
    std::optional<ResolvedFolder> resolveFolder(const std::filesystem::path& folder) override;
    std::optional<FileStatus> regularFileStatus(const std::filesystem::path& file) override; // PosixReadableFile.cpp
    std::unique_ptr<ReadableFile> openRegularFile(const std::filesystem::path& file) override;
    bool removeItem(const std::filesystem::path& item) override;
    std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(const std::filesystem::path& folder) override;
    std::optional<Date> contentModificationDate(const std::filesystem::path& item) override;
};

} // namespace tarnhollow
