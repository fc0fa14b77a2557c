#include "collector-tool/RunLog.h"

#include "collector-tool/Text.h"

namespace tarnhollow::tool {

namespace {

constexpr std::size_t kPrintedProblems = 50;

} // namespace

void RunLog::line(const std::string& text)
{
    file_.append(text);
    file_.append("\n", 1);
}

void RunLog::problem(const std::string& text, bool log)
{
    ++problems_;
    if (problems_ <= kPrintedProblems)
        writeLine(2, "Not collected: " + unsteerable(text));
    if (problems_ == kPrintedProblems)
        writeLine(2, "Further problems are listed in collection.log only");
    if (log)
        line("   problem: " + text);
}

} // namespace tarnhollow::tool
