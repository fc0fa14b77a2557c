// Folders, links and special files; listings of folders; the output of
// live commands.
#include "collector-tool/Collection.h"

#include "collector-tool/Text.h"

#include <algorithm>

namespace tarnhollow::tool {

namespace {

std::string outcomeText(const LiveCommand& command, const LiveResult& result)
{
    std::string outcome;
    switch (result.outcome) {
    case LiveResult::Outcome::ran:
        outcome = "ran, exit status " + std::to_string(result.exitStatus);
        break;
    case LiveResult::Outcome::missing:
        outcome = "not on this system";
        break;
    case LiveResult::Outcome::timedOut:
        outcome = "stopped at its limit of " + std::to_string(command.timeoutSeconds) + " s";
        break;
    case LiveResult::Outcome::failed:
        outcome = "failed";
        break;
    }
    return result.note.empty() ? outcome : outcome + " (" + result.note + ")";
}

} // namespace

// A link is stored as a regular member holding its target, so that no
// extractor makes a live link; the manifest keeps its type and target.
void Collection::collectPlain(const Node& node)
{
    Record rec = recordOf(node, typeName(node.mode));
    if (S_ISDIR(node.mode)) {
        rec.entry = memberName(node.path, true);
        archive().begin(rec.entry, {node.mtime.tv_sec, node.mode, false, 0});
    } else if (S_ISLNK(node.mode)) {
        rec.entry = memberName(node.path, false);
        archive().begin(rec.entry, {node.mtime.tv_sec, node.mode, false, node.linkTarget.size()});
        archive().write(node.linkTarget.data(), node.linkTarget.size());
        hash_.reset();
        hash_.update(node.linkTarget.data(), node.linkTarget.size());
        rec.size = node.linkTarget.size();
        rec.sha = hash_.finishHex();
        rec.note = "target " + node.linkTarget;
    } else {
        rec.size = node.size;
        rec.note = "not read";
        record(rec);
        return;
    }
    if (archive().end())
        record(rec);
}

void Collection::collectListing(const Item& item, Node& node)
{
    settle();
    ++state_.paths;
    ++entries_;
    Record rec = recordOf(node, "listing");
    if (!S_ISDIR(node.mode)) {
        rec.kind = typeName(node.mode);
        rec.size = node.size;
        rec.note = "not a folder, not listed";
        return record(rec);
    }
    attempt(node.path, [&] {
        rec.entry = "listings" + rec.name + ".tsv";
        auto walker = tree_.walk(
            node.path, item.listingDepth, kWalkLimits,
            [this](const std::string& path, const std::string& reason) { problem(path, reason); },
            [this](const std::string& path, const std::string& what) { cut(path, what); });
        archive().begin(rec.entry, {wallClockNow().tv_sec, S_IFREG | 0644, true, 0});
        hash_.reset();
        rec.size = 0;
        const auto put = [&](const std::string& text) {
            archive().write(text.data(), text.size());
            hash_.update(text.data(), text.size());
            rec.size += text.size();
        };
        put(kListingHeader);
        put(listingRow(node));
        Node below;
        for (std::uint64_t rows = 1; walker && walker->next(below) && archiveOk(); ++rows) {
            if (rows > state_.limits.entryCap) {
                cut(node.path, "listing stopped at " + std::to_string(state_.limits.entryCap) + " rows");
                break;
            }
            put(listingRow(below));
            files_.part().timeline.append(bodyLine(below, escapeName(below.path)));
        }
        if (!archive().end())
            return;
        rec.sha = hash_.finishHex();
        record(rec);
    });
}

void Collection::runCommands(const Item& item)
{
    if (info_.root != "/") {
        log_.line("   live commands skipped: the sources are a folder (" + escapeName(info_.root) +
                  "), not the running system");
        return;
    }
    for (const auto& command : item.commands) {
        ScratchFile output;
        if (const int error = ScratchFile::create(files_.folderFd(), output)) {
            problem("live/" + command.name, "no scratch file for its output: " + errorText(error));
            continue;
        }
        const struct timespec started = wallClockNow();
        const LiveResult result = runLiveCommand(command, output.fd());
        const std::string outcome = outcomeText(command, result);
        log_.line("   command " + escapeName(command.name) + ": " + escapeName(outcome) + " (started " +
                  isoUtc(started) + ")");
        Node node;
        node.path = "live/" + command.name;
        node.mtime = node.atime = node.ctime = started;
        node.mode = S_IFREG | 0644;
        Record rec = recordOf(node, "command");
        rec.note = outcome;
        if (result.outcome == LiveResult::Outcome::missing) {
            record(rec);
            continue;
        }
        ++state_.paths;
        ++entries_;
        attempt(node.path, [&] { archiveCommand(command, output, rec); });
    }
}

void Collection::archiveCommand(const LiveCommand& command, ScratchFile& output, Record& rec)
{
    rec.entry = "live/" + escapeName(command.name) + ".txt";
    output.syncSize();
    const std::uint64_t total = output.size();
    archive().begin(rec.entry, {rec.node.mtime.tv_sec, rec.node.mode, true, kLiveOutputCap});
    hash_.reset();
    rec.size = 0;
    for (long n = output.rewind() ? 1 : 0; n > 0 && archiveOk();) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), kLiveOutputCap - rec.size));
        n = want == 0 ? 0 : output.read(buffer_.data(), want);
        if (n <= 0)
            break;
        archive().write(buffer_.data(), static_cast<std::size_t>(n));
        hash_.update(buffer_.data(), static_cast<std::size_t>(n));
        rec.size += static_cast<std::uint64_t>(n);
    }
    if (!archive().end())
        return;
    charge(rec.node, rec.size);
    rec.sha = hash_.finishHex();
    Record row = rec;
    if (total > rec.size)
        row.note += "; output cut at " + std::to_string(rec.size) + " bytes";
    record(row);
}

} // namespace tarnhollow::tool
