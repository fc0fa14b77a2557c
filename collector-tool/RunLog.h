// The log sink: collection.log's lines wait in a scratch file; problems are
// also printed, the first few of them, in a form that no progress line can
// be read into.
#pragma once

#include "collector-tool/ScratchFile.h"

#include <cstddef>
#include <string>

namespace tarnhollow::tool {

class RunLog {
public:
    void open(ScratchFile file) { file_ = std::move(file); }
    void line(const std::string& text);
    // text names the path already escaped; logged only when log is true.
    void problem(const std::string& text, bool log);

    ScratchFile& file() { return file_; }
    std::size_t problems() const { return problems_; }

private:
    ScratchFile file_;
    std::size_t problems_ = 0;
};

} // namespace tarnhollow::tool
