// Small files go through the run in two steps, so that the deflate workers
// have many at once: read whole while the walk goes on, then laid down in
// walk order with their rows. Folders and links found meanwhile wait in the
// same line. Whatever else reaches a sink first lands what waits before it,
// so the archive and the rows are those of a run that took one path at a
// time.
#include "collector-tool/Collection.h"

#include "collector-tool/FileContent.h"
#include "collector-tool/Text.h"
#include "collector-tool/deflate/DeflatePool.h"

namespace tarnhollow::tool {

namespace {

// Files waiting, and their bytes: a fixed bound, whatever the machine.
constexpr std::size_t kAheadFiles = 64;
constexpr std::uint64_t kAheadBytes = 8 << 20;

std::string bytesText(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

} // namespace

// Reads a small regular file whole and queues it; false for a file that
// goes the long way (large, sparse, linked more than once, cut by a budget).
bool Collection::readAhead(int fd, Record& rec)
{
    const Node& node = rec.node;
    if (node.size == 0 || node.size > kBlockSize || node.nlink > 1 || node.allocated < node.size)
        return false;
    const Budget budget = budgetFor(node);
    if (budget.cap < node.size)
        return false;
    auto block = std::make_shared<Block>();
    block->input.resize(node.size);
    block->mayStore = true;
    block->hashInput = true;
    FileContent content(fd, node.size, false);
    long n = 0;
    std::size_t got = 0;
    while (got < node.size &&
           (n = content.read(reinterpret_cast<char*>(block->input.data()) + got, node.size - got)) > 0)
        got += static_cast<std::size_t>(n);
    block->input.resize(got);
    rec.size = got;
    rec.entry = memberName(node.path, false);
    const int readError = n < 0 ? content.error() : 0;
    if (readError != 0)
        rec.note += (rec.note.empty() ? "" : "; ") + std::string("read failed after ") + bytesText(got) + ": " +
                    errorText(readError);
    else
        noteContent(fd, rec, budget, 0, false);
    charge(node, got);
    DeflatePool::shared().submit(block);
    aheadBytes_ += got;
    ahead_.push_back({std::move(rec), std::move(block), readError});
    return true;
}

void Collection::landAhead()
{
    Ahead next = std::move(ahead_.front());
    ahead_.pop_front();
    Record& rec = next.rec;
    if (next.block)
        aheadBytes_ -= next.block->input.size();
    if (!writable()) { // the run stopped before its turn: it was never collected
        --entries_;
        --state_.paths;
        if (next.block)
            charge(rec.node, -rec.size);
        return;
    }
    settling_ = true;
    if (!next.block) {
        attempt(rec.node.path, [&] { collectPlain(rec.node); });
    } else {
        const Block& block = *next.block;
        DeflatePool::shared().wait(block);
        attempt(rec.node.path, [&] {
            archive().begin(rec.entry, {rec.node.mtime.tv_sec, rec.node.mode, !block.stored, block.input.size()});
            archive().writeBlock(block);
            if (!archive().end())
                return;
            rec.sha = block.sha256;
            record(rec);
            if (next.readError != 0)
                problem(rec.node.path, "read failed after " + bytesText(rec.size) + ": " + errorText(next.readError));
        });
    }
    settling_ = false;
}

// Lands the oldest files while more wait than the bounds allow.
void Collection::boundAhead()
{
    while (ahead_.size() > kAheadFiles || aheadBytes_ > kAheadBytes)
        landAhead();
}

void Collection::settle()
{
    if (settling_)
        return;
    while (!ahead_.empty())
        landAhead();
}

} // namespace tarnhollow::tool
