#include "collector-tool/Collection.h"

#include "collector-tool/LiveReads.h"
#include "collector-tool/Text.h"

#include <algorithm>

namespace tarnhollow::tool {

namespace {

// Per item, the log names this many cuts and problems, then counts them.
constexpr std::size_t kNotedPerItem = 200;
constexpr std::size_t kBeforeCap = 100000;

bool isProcItem(const Item& item)
{
    return !item.patterns.empty() && std::all_of(item.patterns.begin(), item.patterns.end(),
                                                 [](const auto& p) { return p.starts_with("/proc/"); });
}

std::string bytesText(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

std::vector<std::string> components(const std::string& pattern)
{
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= pattern.size()) {
        const std::size_t end = std::min(pattern.find('/', start), pattern.size());
        if (end > start)
            parts.push_back(pattern.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Whether two patterns can reach a common path: one leads into the other,
// a wildcard or a list of alternatives counting as any name.
bool mayOverlap(const std::string& a, const std::string& b)
{
    const auto x = components(a);
    const auto y = components(b);
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
        if (x[i] != y[i] && x[i].find_first_of("*?[{") == std::string::npos &&
            y[i].find_first_of("*?[{") == std::string::npos)
            return false;
    return true;
}

} // namespace

std::function<void(const std::string&)> Collection::beforeOpen;

Collection::Collection(const SourceTree& tree, const std::vector<Item>& items, RunInfo info, ArchiveFiles& files,
                       ScratchFile log)
    : tree_(tree),
      items_(items),
      info_(std::move(info)),
      files_(files),
      buffer_(1 << 20)
{
    log_.open(std::move(log));
    const auto sequence = order(items_);
    // An item's paths are kept when a later item, or another of its own
    // patterns, may reach them again.
    remember_.assign(items_.size(), false);
    for (std::size_t i = 0; i < sequence.size(); ++i)
        for (std::size_t j = i; j < sequence.size(); ++j) {
            const auto& first = items_[sequence[i]].patterns;
            const auto& second = items_[sequence[j]].patterns;
            for (std::size_t a = 0; a < first.size(); ++a)
                for (std::size_t b = i == j ? a + 1 : 0; b < second.size(); ++b)
                    if (mayOverlap(first[a], second[b]))
                        remember_[sequence[i]] = true;
        }
}

std::vector<std::size_t> Collection::order(const std::vector<Item>& items)
{
    std::vector<std::size_t> order;
    for (int pass = 0; pass < 3; ++pass)
        for (std::size_t i = 0; i < items.size(); ++i) {
            const int rank = !items[i].commands.empty() ? 0 : isProcItem(items[i]) ? 1 : 2;
            if (rank == pass)
                order.push_back(i);
        }
    return order;
}

void Collection::writeHeader()
{
    files_.part().manifest.append(kManifestHeader);
    log_.line("tarnhollow " + info_.version + " collection log");
    log_.line("host: " + escapeName(info_.host));
    log_.line("started: " + isoUtc(info_.start));
    log_.line("source root: " + escapeName(info_.root));
    log_.line("output folder: " + escapeName(info_.folder));
    for (const auto& note : info_.notes)
        log_.line(escapeName(note));
    log_.line("limits: run " + bytesText(kRunByteBudget) + " and " + std::to_string(kRunEntryCap) + " paths; " +
              bytesText(kAccountByteBudget) + " per account in folders users can write; walks " +
              std::to_string(kWalkLimits.maxDepth) + " folder levels deep, paths up to " +
              std::to_string(kWalkLimits.maxPathBytes) + " bytes");
    log_.line("");
    log_.line("items:");
}

// Metadata only (no file is opened, folders without their access time
// moving), before any command runs.
void Collection::takeTimesBefore()
{
    const auto ignore = [](const std::string&, const std::string&) {};
    for (const Item& item : items_)
        for (const LiveCommand& command : item.commands)
            for (const std::string& pattern : liveReads(command))
                tree_.expand(
                    pattern, 0, kWalkLimits,
                    [this](Node& node) {
                        before_.try_emplace(node.path, Before{node.dev, node.ino, node.atime});
                        return before_.size() < kBeforeCap;
                    },
                    ignore, ignore);
    if (!before_.empty())
        log_.line("access times taken before the live commands ran: " + std::to_string(before_.size()) + " paths");
}

Outcome Collection::run()
{
    writeHeader();
    addTopNote();
    if (info_.root == "/")
        takeTimesBefore();
    const auto sequence = order(items_);
    for (std::size_t position = 0; position < sequence.size() && writable(); ++position)
        collectItem(position, sequence[position]);
    return close();
}

void Collection::collectItem(std::size_t position, std::size_t index)
{
    const Item& item = items_[index];
    state_ = ItemState{};
    state_.index = index;
    state_.limits = limitsFor(item);
    state_.userArea = reachesUserFolders(item);
    writeLine(1, "Collecting " + item.name + " (" + std::to_string(position + 1) + "/" + std::to_string(items_.size()) +
                     ")");
    log_.line(std::to_string(position + 1) + ". " + item.name + ": started " + isoUtc(wallClockNow()));
    if (!item.commands.empty())
        runCommands(item);
    std::vector<std::string> missing;
    for (const auto& pattern : item.patterns) {
        expandPattern(item, pattern, missing);
        if (state_.full || runFull_ || !writable())
            break;
    }
    summarise(item, missing);
}

void Collection::expandPattern(const Item& item, const std::string& pattern, std::vector<std::string>& missing)
{
    bool matched = false;
    tree_.expand(
        pattern, item.listingOnly ? -1 : 0, kWalkLimits,
        [&](Node& node) {
            matched = true;
            if (item.listingOnly)
                collectListing(item, node);
            else
                return visit(node);
            return writable();
        },
        [this](const std::string& path, const std::string& reason) { problem(path, reason); },
        [this](const std::string& path, const std::string& what) { cut(path, what); });
    if (!matched)
        missing.push_back(pattern);
}

void Collection::summarise(const Item& item, const std::vector<std::string>& missing)
{
    settle();
    std::string summary = "   " + item.name + ": ";
    if (state_.paths == 0 && item.commands.empty())
        summary += "skipped, nothing found on this system";
    else
        summary +=
            std::to_string(state_.paths) + (state_.paths == 1 ? " path, " : " paths, ") + bytesText(state_.bytes);
    if (state_.alreadyTaken > 0)
        summary += ", " + std::to_string(state_.alreadyTaken) + " already taken by an earlier item";
    if (state_.cuts > 0)
        summary += ", " + std::to_string(state_.cuts) + (state_.cuts == 1 ? " cut" : " cuts");
    if (state_.cuts > kNotedPerItem)
        summary += " (" + std::to_string(state_.cuts - kNotedPerItem) + " not listed)";
    if (state_.problems > kNotedPerItem)
        summary += ", " + std::to_string(state_.problems - kNotedPerItem) + " more problems not listed";
    log_.line(summary);
    for (const auto& pattern : missing)
        log_.line("   not present: " + escapeName(pattern));
}

bool Collection::underCaps(const Node& node)
{
    if (entries_ >= kRunEntryCap) {
        cut(node.path, "the run's limit of " + std::to_string(kRunEntryCap) +
                           " paths is reached; the rest of the run's paths left out");
        runFull_ = true;
        return false;
    }
    if (state_.paths >= state_.limits.entryCap) {
        cut(node.path, "the item's limit of " + std::to_string(state_.limits.entryCap) +
                           " paths is reached; the rest of the item left out");
        state_.full = true;
        return false;
    }
    return true;
}

bool Collection::visit(Node& node)
{
    if (!underCaps(node))
        return false;
    if (seen_.count(node.path) != 0) {
        ++state_.alreadyTaken;
        return true;
    }
    if (remember_[state_.index])
        seen_.insert(node.path);
    ++entries_;
    ++state_.paths;
    attempt(node.path, [&] { collectNode(node); });
    boundAhead();
    return writable();
}

void Collection::collectNode(Node& node)
{
    if (S_ISREG(node.mode))
        collectFile(node);
    else // in its turn, after the files read ahead
        ahead_.push_back({recordOf(node, ""), nullptr, 0});
}

void Collection::problem(const std::string& path, const std::string& reason)
{
    settle();
    log_.problem(escapeName(path) + ": " + reason, state_.problems++ < kNotedPerItem);
}

void Collection::cut(const std::string& path, const std::string& what)
{
    settle();
    if (state_.cuts++ >= kNotedPerItem)
        return;
    log_.line("   cut: " + escapeName(path) + ": " + escapeName(what));
    Node node;
    node.path = path;
    Record rec = recordOf(node, "cut");
    rec.note = what;
    record(rec);
}

} // namespace tarnhollow::tool
