#include "collector-tool/Collection.h"

#include "collector-tool/Text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

constexpr std::size_t kPrintedProblems = 50;
// Per item, the log names this many cuts and problems, then counts them.
constexpr std::size_t kNotedPerItem = 200;
// Member names longer than this, or with a longer component, are stored
// under a hash: unzip tools and file systems refuse them.
constexpr std::size_t kMaxMemberName = 1024;
constexpr std::size_t kMaxMemberComponent = 255;
constexpr std::size_t kNotedExtents = 8;

bool alreadyCompressed(const std::string& path)
{
    static const char* const suffixes[] = {".gz", ".xz", ".bz2", ".zst", ".lz4", ".zip", ".7z", ".Z", ".tgz"};
    return std::any_of(std::begin(suffixes), std::end(suffixes), [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return path.size() > n && path.compare(path.size() - n, n, suffix) == 0;
    });
}

struct timespec now()
{
    struct timespec t {};
    clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

std::string birth(const Node& node) { return node.hasBirthtime ? isoUtc(node.birthtime) : std::string("-"); }

std::string listingRow(const Node& node)
{
    std::string row = escapeName(node.path);
    row += '\t';
    row += typeName(node.mode);
    row += '\t' + std::to_string(node.size);
    row += '\t' + isoUtc(node.mtime);
    row += '\t' + octal(node.mode & 07777, 4);
    row += '\t' + std::to_string(node.uid);
    row += '\t' + std::to_string(node.gid);
    row += '\t' + escapeName(node.linkTarget);
    row += '\t' + std::to_string(node.ino);
    row += '\t' + isoUtc(node.atime);
    row += '\t' + isoUtc(node.ctime);
    row += '\t' + birth(node);
    row += '\n';
    return row;
}

// The mode as timeline tools print it: "r/rrw-r--r--".
std::string bodyMode(mode_t mode)
{
    char type = '-';
    if (S_ISREG(mode))
        type = 'r';
    else if (S_ISDIR(mode))
        type = 'd';
    else if (S_ISLNK(mode))
        type = 'l';
    else if (S_ISFIFO(mode))
        type = 'p';
    else if (S_ISSOCK(mode))
        type = 's';
    else if (S_ISCHR(mode))
        type = 'c';
    else if (S_ISBLK(mode))
        type = 'b';
    std::string text{type, '/', type};
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        text += (mode & (0400 >> i)) ? rwx[i] : '-';
    if (mode & S_ISUID)
        text[5] = (mode & 0100) ? 's' : 'S';
    if (mode & S_ISGID)
        text[8] = (mode & 0010) ? 's' : 'S';
    if (mode & S_ISVTX)
        text[11] = (mode & 0001) ? 't' : 'T';
    return text;
}

// The eleven fields of a timeline body line; '|' inside a name is escaped.
std::string bodyLine(const Node& node)
{
    std::string name = escapeName(node.path);
    if (S_ISLNK(node.mode))
        name += " -> " + escapeName(node.linkTarget);
    std::string safe;
    for (char c : name)
        safe += c == '|' ? std::string("%7C") : std::string(1, c);
    return "0|" + safe + "|" + std::to_string(node.ino) + "|" + bodyMode(node.mode) + "|" + std::to_string(node.uid) +
           "|" + std::to_string(node.gid) + "|" + std::to_string(node.size) + "|" + std::to_string(node.atime.tv_sec) +
           "|" + std::to_string(node.mtime.tv_sec) + "|" + std::to_string(node.ctime.tv_sec) + "|" +
           std::to_string(node.hasBirthtime ? node.birthtime.tv_sec : 0) + "\n";
}

bool isProcItem(const Item& item)
{
    return !item.patterns.empty() && std::all_of(item.patterns.begin(), item.patterns.end(),
                                                 [](const auto& p) { return p.starts_with("/proc/"); });
}

std::string bytesText(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

} // namespace

Collection::Collection(const SourceTree& tree, const std::vector<Item>& items, RunInfo info, RunScratch scratch)
    : tree_(tree),
      items_(items),
      info_(std::move(info)),
      scratch_(std::move(scratch)),
      buffer_(1 << 20)
{
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

void Collection::log(const std::string& line)
{
    scratch_.log.append(line);
    scratch_.log.append("\n", 1);
}

void Collection::problem(const std::string& path, const std::string& reason)
{
    ++problems_;
    const std::string line = escapeName(path) + ": " + reason;
    if (printed_ < kPrintedProblems)
        writeLine(2, "Not collected: " + line);
    if (++printed_ == kPrintedProblems)
        writeLine(2, "Further problems are listed in collection.log only");
    if (state_.problems++ < kNotedPerItem)
        log("   problem: " + line);
}

void Collection::cut(const std::string& path, const std::string& what)
{
    if (state_.cuts++ >= kNotedPerItem)
        return;
    log("   cut: " + escapeName(path) + ": " + escapeName(what));
    Node node;
    node.path = path;
    record(node, "cut", 0, "-", "-", what);
}

bool Collection::archiveOk() { return archive_->error() == 0; }

std::string Collection::memberName(const Node& node, bool folder) const
{
    std::string name = "files" + escapeName(node.path);
    std::size_t longest = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i)
        if (i == name.size() || name[i] == '/') {
            longest = std::max(longest, i - start);
            start = i + 1;
        }
    if (name.size() > kMaxMemberName || longest > kMaxMemberComponent) {
        Sha256 hash;
        hash.update(node.path.data(), node.path.size());
        name = "long-names/" + hash.finishHex();
    }
    if (folder)
        name += '/';
    return name;
}

void Collection::record(const Node& node, const std::string& kind, std::uint64_t size, const std::string& sha,
                        const std::string& entry, const std::string& note)
{
    std::string row = escapeName(node.path);
    row += '\t' + kind;
    row += '\t' + std::to_string(size);
    row += '\t' + isoUtc(node.mtime);
    row += '\t' + isoUtc(node.atime);
    row += '\t' + isoUtc(node.ctime);
    row += '\t' + birth(node);
    row += '\t' + std::to_string(node.ino);
    row += '\t' + octal(node.mode & 07777, 4);
    row += '\t' + std::to_string(node.uid);
    row += '\t' + std::to_string(node.gid);
    row += '\t' + sha;
    row += '\t' + entry;
    row += '\t' + (note.empty() ? std::string("-") : escapeName(note));
    row += '\n';
    scratch_.manifest.append(row);
    if (kind != "cut")
        scratch_.timeline.append(bodyLine(node));
}

bool Collection::run(Archive& archive)
{
    archive_ = &archive;
    scratch_.manifest.append(
        "path\ttype\tsize\tmtime\tatime\tctime\tbirthtime\tinode\tmode\tuid\tgid\tsha256\tentry\tnote\n");
    log("tarnhollow " + info_.version + " collection log");
    log("host: " + escapeName(info_.host));
    log("started: " + isoUtc(info_.start));
    log("source root: " + escapeName(info_.root));
    log("archive: " + escapeName(info_.archivePath));
    for (const auto& note : info_.notes)
        log(escapeName(note));
    log("limits: run " + bytesText(kRunByteBudget) + " and " + std::to_string(kRunEntryCap) + " paths; walks " +
        std::to_string(kWalkLimits.maxDepth) + " folder levels deep, paths up to " +
        std::to_string(kWalkLimits.maxPathBytes) + " bytes");
    log("");
    log("items:");
    const auto sequence = order(items_);
    for (std::size_t position = 0; position < sequence.size() && archiveOk(); ++position)
        collectItem(position, sequence[position]);
    if (!archiveOk())
        return false;

    for (ScratchFile* file : {&scratch_.manifest, &scratch_.timeline, &scratch_.log})
        if (file->error() != 0)
            archive.fail(file->error());
    if (!archiveOk())
        return false;
    writeLine(1, "Writing the manifest, the timeline and the log");
    std::string manifestSha;
    std::string timelineSha;
    addGenerated("manifest.tsv", scratch_.manifest, &manifestSha);
    addGenerated("timeline.body", scratch_.timeline, &timelineSha);
    log("");
    log("paths recorded: " + std::to_string(entries_) + ", content bytes: " + std::to_string(runBytes_) +
        ", problems: " + std::to_string(problems_));
    log("manifest sha256: " + manifestSha);
    log("timeline sha256: " + timelineSha);
    log("finished: " + isoUtc(now()));
    addGenerated("collection.log", scratch_.log, nullptr);
    if (scratch_.log.error() != 0)
        archive.fail(scratch_.log.error());
    return archiveOk();
}

void Collection::collectItem(std::size_t position, std::size_t index)
{
    const Item& item = items_[index];
    state_ = ItemState{};
    state_.index = index;
    state_.limits = limitsFor(item);
    writeLine(1, "Collecting " + item.name + " (" + std::to_string(position + 1) + "/" + std::to_string(items_.size()) +
                     ")");
    log(std::to_string(position + 1) + ". " + item.name + ": started " + isoUtc(now()));

    if (!item.commands.empty())
        runCommands(item);

    std::vector<std::string> missing;
    const auto onProblem = [this](const std::string& path, const std::string& reason) { problem(path, reason); };
    const auto onCut = [this](const std::string& path, const std::string& what) { cut(path, what); };
    for (const auto& pattern : item.patterns) {
        bool matched = false;
        tree_.expand(
            pattern, item.listingOnly ? -1 : 0, kWalkLimits,
            [&](Node& node) {
                matched = true;
                if (item.listingOnly) {
                    collectListing(item, node);
                    return archiveOk();
                }
                return visit(node);
            },
            onProblem, onCut);
        if (!matched)
            missing.push_back(pattern);
        if (state_.full || runFull_ || !archiveOk())
            break;
    }

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
    log(summary);
    for (const auto& pattern : missing)
        log("   not present: " + escapeName(pattern));
}

bool Collection::visit(Node& node)
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
    {
        Sha256 key;
        key.update(node.path.data(), node.path.size());
        const std::string hex = key.finishHex();
        if (!seen_.insert(std::stoull(hex.substr(0, 16), nullptr, 16)).second) {
            ++state_.alreadyTaken;
            return true;
        }
    }
    ++entries_;
    ++state_.paths;
    if (S_ISREG(node.mode)) {
        collectFile(node);
    } else if (S_ISDIR(node.mode)) {
        const std::string name = memberName(node, true);
        archive_->begin(name, {node.mtime.tv_sec, node.mode, false});
        archive_->end();
        record(node, "folder", 0, "-", name, "");
    } else if (S_ISLNK(node.mode)) {
        const std::string name = memberName(node, false);
        archive_->begin(name, {node.mtime.tv_sec, node.mode, false});
        archive_->write(node.linkTarget.data(), node.linkTarget.size());
        archive_->end();
        hash_.reset();
        hash_.update(node.linkTarget.data(), node.linkTarget.size());
        record(node, "link", node.linkTarget.size(), hash_.finishHex(), name, "target " + node.linkTarget);
    } else {
        record(node, typeName(node.mode), node.size, "-", "-", "not read");
    }
    return archiveOk();
}

void Collection::collectFile(Node& node)
{
    const ItemLimits& limits = state_.limits;
    const std::uint64_t itemLeft = limits.byteBudget > state_.bytes ? limits.byteBudget - state_.bytes : 0;
    const std::uint64_t runLeft = kRunByteBudget > runBytes_ ? kRunByteBudget - runBytes_ : 0;
    std::uint64_t cap = std::min(itemLeft, runLeft);
    std::string capReason = itemLeft <= runLeft ? "the item's budget of " + bytesText(limits.byteBudget)
                                                : "the run's budget of " + bytesText(kRunByteBudget);
    if (limits.fileCap != 0 && limits.fileCap < cap) {
        cap = limits.fileCap;
        capReason = "the per-file cap of " + bytesText(limits.fileCap) + " for folders users can write";
    }
    if (node.size == 0 && kUnknownSizeCap < cap) {
        cap = kUnknownSizeCap;
        capReason = "the cap of " + bytesText(kUnknownSizeCap) + " for files of unknown size";
    }

    const int fd = tree_.openFile(node.path);
    if (fd < 0) {
        if (fd == -ENOENT || fd == -ESRCH) {
            record(node, "file", 0, "-", "-", "vanished before it was read");
            log("   vanished: " + escapeName(node.path));
        } else {
            const std::string reason = std::string("unreadable: ") + std::strerror(-fd);
            record(node, "file", 0, "-", "-", reason);
            problem(node.path, reason);
        }
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        record(node, "file", 0, "-", "-", "no longer a regular file");
        problem(node.path, "no longer a regular file");
        return;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    // Data regions to read: the whole file, or only where a sparse file has data.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
    std::uint64_t extentCount = 0;
    bool sparse = false;
    const bool knownSize = node.size > 0;
    const std::uint64_t listedSize = node.size;
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    if (knownSize && node.allocated < node.size) {
        sparse = true;
        off_t pos = 0;
        while (pos < static_cast<off_t>(listedSize)) {
            const off_t data = ::lseek(fd, pos, SEEK_DATA);
            if (data < 0) {
                if (errno != ENXIO)
                    sparse = false;
                break;
            }
            off_t hole = ::lseek(fd, data, SEEK_HOLE);
            if (hole < 0) {
                sparse = false;
                break;
            }
            hole = std::min<off_t>(hole, static_cast<off_t>(listedSize));
            if (hole > data) {
                ++extentCount;
                // Only as many extents as the cap can use are held.
                extents.emplace_back(data, hole - data);
            }
            pos = hole;
            std::uint64_t covered = 0;
            for (const auto& e : extents)
                covered += e.second;
            if (covered >= cap)
                break;
        }
        if (!sparse)
            extents.clear();
    }
#endif
    if (!sparse)
        extents.emplace_back(0, knownSize ? listedSize : UINT64_MAX);

    // The first block is read before the entry begins: a file of a process
    // that has ended is gone, and is not archived as empty.
    std::uint64_t count = 0;
    std::size_t extent = 0;
    std::uint64_t inExtent = 0;
    bool failed = false;
    bool begun = false;
    std::string note;
    const std::string name = memberName(node, false);
    hash_.reset();
    for (;;) {
        while (extent < extents.size() && inExtent >= extents[extent].second) {
            ++extent;
            inExtent = 0;
        }
        if (extent == extents.size() || count >= cap)
            break;
        const std::uint64_t want =
            std::min<std::uint64_t>({buffer_.size(), extents[extent].second - inExtent, cap - count});
        const ssize_t n = ::pread(fd, buffer_.data(), static_cast<std::size_t>(want),
                                  static_cast<off_t>(extents[extent].first + inExtent));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            if (!begun && (error == ESRCH || error == ENOENT)) {
                ::close(fd);
                record(node, "file", 0, "-", "-", "vanished before it was read");
                log("   vanished: " + escapeName(node.path));
                return;
            }
            failed = true;
            note = "read failed after " + bytesText(count) + ": " + std::strerror(error);
            problem(node.path, note);
            break;
        }
        if (!begun) {
            begun = true;
            archive_->begin(name, {node.mtime.tv_sec, node.mode, !alreadyCompressed(node.path)});
        }
        if (n == 0)
            break;
        archive_->write(buffer_.data(), static_cast<std::size_t>(n));
        hash_.update(buffer_.data(), static_cast<std::size_t>(n));
        count += static_cast<std::uint64_t>(n);
        inExtent += static_cast<std::uint64_t>(n);
        if (!archiveOk())
            break;
    }
    if (!begun)
        archive_->begin(name, {node.mtime.tv_sec, node.mode, !alreadyCompressed(node.path)});
    archive_->end();
    state_.bytes += count;
    runBytes_ += count;

    if (!failed) {
        struct stat after {};
        ::fstat(fd, &after);
        const auto sizeNow = static_cast<std::uint64_t>(after.st_size);
        char probe;
        const bool more =
            count >= cap &&
            (knownSize ? (sparse ? extent < extents.size() || extentCount > extents.size() : count < listedSize)
                       : ::pread(fd, &probe, 1, static_cast<off_t>(count)) > 0);
        if (more) {
            note = "cut at " + bytesText(count) + " by " + capReason;
            cut(node.path, note + "; the rest of the file left out");
        } else if (sparse) {
            std::uint64_t data = 0;
            std::string list;
            for (std::size_t i = 0; i < extents.size(); ++i) {
                data += extents[i].second;
                if (i < kNotedExtents)
                    list += (i ? "," : "") + std::to_string(extents[i].first) + "+" + std::to_string(extents[i].second);
            }
            if (extents.size() > kNotedExtents)
                list += ",…";
            note = "sparse: " + bytesText(listedSize - data) +
                   " of holes left out; data regions archived back to back" +
                   (list.empty() ? std::string(" (none)") : " at offset+length " + list);
        } else if (knownSize && count < listedSize) {
            note = "shrank while read: " + std::to_string(count) + " of " + bytesText(listedSize);
        } else if (knownSize && sizeNow > listedSize) {
            note = "grew while collected: first " + std::to_string(listedSize) + " of now " + bytesText(sizeNow) +
                   " archived";
        }
    }
    ::close(fd);
    record(node, "file", count, hash_.finishHex(), name, note);
}

void Collection::collectListing(const Item& item, Node& node)
{
    ++state_.paths;
    ++entries_;
    if (!S_ISDIR(node.mode)) {
        record(node, typeName(node.mode), node.size, "-", "-", "not a folder, not listed");
        return;
    }
    const std::string name = "listings" + escapeName(node.path) + ".tsv";
    const auto onProblem = [this](const std::string& path, const std::string& reason) { problem(path, reason); };
    const auto onCut = [this](const std::string& path, const std::string& what) { cut(path, what); };
    auto walker = tree_.walk(node.path, item.listingDepth, kWalkLimits, onProblem, onCut);
    archive_->begin(name, {now().tv_sec, S_IFREG | 0644, true});
    hash_.reset();
    std::uint64_t size = 0;
    std::uint64_t rows = 0;
    const auto put = [&](const std::string& text) {
        archive_->write(text.data(), text.size());
        hash_.update(text.data(), text.size());
        size += text.size();
    };
    put("path\ttype\tsize\tmtime\tmode\tuid\tgid\tlink target\tinode\tatime\tctime\tbirthtime\n");
    put(listingRow(node));
    Node below;
    while (walker && walker->next(below) && archiveOk()) {
        if (++rows > state_.limits.entryCap) {
            cut(node.path, "listing stopped at " + std::to_string(state_.limits.entryCap) + " rows");
            break;
        }
        put(listingRow(below));
        scratch_.timeline.append(bodyLine(below));
    }
    archive_->end();
    record(node, "listing", size, hash_.finishHex(), name, "");
}

void Collection::runCommands(const Item& item)
{
    if (info_.root != "/") {
        log("   live commands skipped: the sources are a folder (" + escapeName(info_.root) +
            "), not the running system");
        return;
    }
    for (const auto& command : item.commands) {
        ScratchFile output;
        const int created = ScratchFile::create(scratch_.folderFd, output);
        if (created != 0) {
            problem("live/" + command.name, std::string("no scratch file for its output: ") + std::strerror(-created));
            continue;
        }
        const struct timespec started = now();
        const LiveResult result = runLiveCommand(command, output.fd());
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
        if (!result.note.empty())
            outcome += " (" + result.note + ")";
        log("   command " + escapeName(command.name) + ": " + escapeName(outcome) + " (started " + isoUtc(started) +
            ")");
        Node node;
        node.path = "live/" + command.name;
        node.mtime = started;
        node.atime = started;
        node.ctime = started;
        node.mode = S_IFREG | 0644;
        if (result.outcome == LiveResult::Outcome::missing) {
            record(node, "command", 0, "-", "-", outcome);
            continue;
        }
        const std::string name = "live/" + escapeName(command.name) + ".txt";
        ++state_.paths;
        ++entries_;
        output.syncSize();
        const std::uint64_t total = output.size();
        archive_->begin(name, {started.tv_sec, node.mode, true});
        hash_.reset();
        std::uint64_t count = 0;
        if (output.rewind()) {
            for (;;) {
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), kLiveOutputCap - count));
                const long n = want == 0 ? 0 : output.read(buffer_.data(), want);
                if (n <= 0)
                    break;
                archive_->write(buffer_.data(), static_cast<std::size_t>(n));
                hash_.update(buffer_.data(), static_cast<std::size_t>(n));
                count += static_cast<std::uint64_t>(n);
            }
        }
        archive_->end();
        state_.bytes += count;
        runBytes_ += count;
        if (total > count)
            outcome += "; output cut at " + bytesText(count);
        record(node, "command", count, hash_.finishHex(), name, outcome);
    }
}

void Collection::addGenerated(const std::string& name, ScratchFile& file, std::string* sha)
{
    if (!archiveOk())
        return;
    archive_->begin(name, {now().tv_sec, S_IFREG | 0644, true});
    hash_.reset();
    if (!file.rewind()) {
        problem(name, std::string("scratch file failed: ") + std::strerror(file.error()));
    } else {
        for (;;) {
            const long n = file.read(buffer_.data(), buffer_.size());
            if (n <= 0)
                break;
            archive_->write(buffer_.data(), static_cast<std::size_t>(n));
            hash_.update(buffer_.data(), static_cast<std::size_t>(n));
        }
    }
    archive_->end();
    const std::string hex = hash_.finishHex();
    if (sha != nullptr)
        *sha = hex;
}

} // namespace tarnhollow::tool
