// A fresh folder under the system's temporary folder, removed afterwards.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include <stdlib.h>
#include <unistd.h> // mkdtemp on the Mac

namespace tarnhollow::testing {

class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnhollow-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a scratch folder");
        path_ = pattern;
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_, ignored_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
    std::error_code ignored_;
};

} // namespace tarnhollow::testing
