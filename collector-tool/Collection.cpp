#include "collector-tool/Collection.h"

#include "platform/digest/Sha256.h"
#include "collector-tool/Text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

    // Files of unknown size (those of /proc report 0) are read to their end,
    // but no further than this.
    constexpr std::uint64_t kUnknownSizeLimit = 64ull << 20;
    // Problems beyond this many go to the collection log only.
    constexpr std::size_t kPrintedProblems = 50;

    bool alreadyCompressed(const std::string& path)
    {
        static const char* const suffixes[]
            = { ".gz", ".xz", ".bz2", ".zst", ".lz4", ".zip", ".7z", ".Z", ".tgz" };
        return std::any_of(std::begin(suffixes), std::end(suffixes), [&](const char* suffix) {
            const std::size_t n = std::strlen(suffix);
            return path.size() > n && path.compare(path.size() - n, n, suffix) == 0;
        });
    }

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
        row += '\n';
        return row;
    }

    struct timespec now()
    {
        struct timespec t { };
        clock_gettime(CLOCK_REALTIME, &t);
        return t;
    }

} // namespace

// Feeds one entry to the archive: announces its item, reads the content
// once, hashes exactly what is handed over, and records what happened.
class Collection::Stream : public EntryStream {
public:
    Stream(Collection& owner, std::size_t index)
        : owner_(owner)
        , index_(index)
    {
    }

    std::optional<std::uint64_t> size() const override
    {
        const Entry& e = entry();
        switch (e.kind) {
        case Kind::File:
            if (e.node.size > 0)
                return e.node.size;
            return std::nullopt;
        case Kind::Folder:
            return 0;
        case Kind::Link:
            return e.node.linkTarget.size();
        default:
            return std::nullopt;
        }
    }

    void open() override
    {
        Entry& e = entry();
        owner_.announce(e.kind == Kind::Manifest || e.kind == Kind::Log
                ? static_cast<int>(owner_.items_.size()) - 1
                : e.item);
        hash_.reset();
        count_ = 0;
        pending_.clear();
        offset_ = 0;
        switch (e.kind) {
        case Kind::File:
            openFile(e);
            break;
        case Kind::Link:
            pending_ = e.node.linkTarget;
            break;
        case Kind::Listing:
            pending_ = "path\ttype\tsize\tmtime\tmode\tuid\tgid\tlink target\n" + listingRow(e.node);
            walker_ = owner_.tree_.walk(e.node.path, e.listingDepth,
                [this](const std::string& path, const std::string& reason) { owner_.problem(path, reason); });
            break;
        case Kind::Manifest:
            pending_ = "path\ttype\tsize\tmtime\tmode\tuid\tgid\tsha256\tentry\tnote\n";
            cursor_ = 0;
            break;
        case Kind::Log:
            pending_ = owner_.logText();
            break;
        default:
            break;
        }
    }

    std::size_t read(void* data, std::size_t capacity) override
    {
        auto* out = static_cast<char*>(data);
        std::size_t done = 0;
        while (done < capacity) {
            if (offset_ < pending_.size()) {
                const std::size_t n = std::min(capacity - done, pending_.size() - offset_);
                std::memcpy(out + done, pending_.data() + offset_, n);
                offset_ += n;
                done += n;
                continue;
            }
            pending_.clear();
            offset_ = 0;
            if (entry().kind == Kind::File) {
                done += readFile(out + done, capacity - done);
                break;
            }
            if (!refill())
                break;
        }
        hash_.update(out, done);
        count_ += done;
        return done;
    }

    void close() override
    {
        Entry& e = entry();
        if (fd_ >= 0) {
            finishFile(e);
            ::close(fd_);
            fd_ = -1;
        }
        walker_.reset();
        e.archivedSize = count_;
        e.sha256 = hash_.finishHex();
        if (e.kind == Kind::Manifest)
            owner_.manifestSha_ = e.sha256;
    }

private:
    Entry& entry() const { return owner_.entries_[index_]; }

    void openFile(Entry& e)
    {
        limit_ = e.node.size > 0 ? e.node.size : kUnknownSizeLimit;
        fd_ = owner_.tree_.openFile(e.node.path);
        if (fd_ < 0) {
            // Processes end all the time; their files going away is no news.
            e.note = "unreadable now: " + std::string(std::strerror(-fd_));
            owner_.problem(e.node.path, e.note, fd_ != -ENOENT);
            return;
        }
        struct stat st { };
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            e.note = "no longer a regular file";
            owner_.problem(e.node.path, e.note);
            ::close(fd_);
            fd_ = -1;
            return;
        }
#ifdef POSIX_FADV_SEQUENTIAL
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    }

    std::size_t readFile(char* out, std::size_t capacity)
    {
        if (fd_ < 0 || count_ >= limit_ || failed_)
            return 0;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, limit_ - count_));
        for (;;) {
            const ssize_t n = ::read(fd_, out, want);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno == EINTR)
                continue;
            failed_ = true;
            Entry& e = entry();
            e.note = "read failed after " + std::to_string(count_) + " bytes: " + std::strerror(errno);
            owner_.problem(e.node.path, e.note);
            return 0;
        }
    }

    // What the archive holds is the file as far as it reached when listed; a
    // change while it was read is noted rather than chased.
    void finishFile(Entry& e)
    {
        if (failed_)
            return;
        struct stat st { };
        ::fstat(fd_, &st);
        const auto sizeNow = static_cast<std::uint64_t>(st.st_size);
        if (e.node.size == 0) {
            char probe;
            if (count_ >= limit_ && ::read(fd_, &probe, 1) > 0)
                e.note = "cut at " + std::to_string(limit_) + " bytes";
        } else if (count_ < e.node.size) {
            e.note = "shrank while read: " + std::to_string(count_) + " of " + std::to_string(e.node.size)
                + " bytes";
        } else if (sizeNow > e.node.size) {
            e.note = "grew while collected: first " + std::to_string(e.node.size) + " of now "
                + std::to_string(sizeNow) + " bytes archived";
        }
    }

    bool refill()
    {
        Entry& e = entry();
        if (e.kind == Kind::Listing && walker_) {
            Node node;
            if (!walker_->next(node))
                return false;
            pending_ = listingRow(node);
            return true;
        }
        if (e.kind == Kind::Manifest) {
            while (cursor_ < owner_.entries_.size()) {
                const Entry& row = owner_.entries_[cursor_++];
                if (row.kind == Kind::Manifest || row.kind == Kind::Log)
                    continue;
                pending_ = owner_.manifestRow(row);
                return true;
            }
        }
        return false;
    }

    Collection& owner_;
    std::size_t index_;
    Sha256 hash_;
    std::uint64_t count_ = 0;
    std::uint64_t limit_ = 0;
    std::string pending_;
    std::size_t offset_ = 0;
    int fd_ = -1;
    bool failed_ = false;
    std::unique_ptr<SourceTree::Walker> walker_;
    std::size_t cursor_ = 0;
};

Collection::Collection(const SourceTree& tree, const std::vector<Item>& items, RunInfo info)
    : tree_(tree)
    , items_(items)
    , info_(std::move(info))
    , reports_(items.size())
{
}

Collection::~Collection() = default;

void Collection::problem(const std::string& path, const std::string& reason, bool print)
{
    std::string line = escapeName(path) + ": " + reason;
    if (print && printed_ < kPrintedProblems)
        writeLine(2, "Not collected: " + line);
    if (print && ++printed_ == kPrintedProblems)
        writeLine(2, "Further problems are listed in collection.log only");
    problems_.push_back(std::move(line));
}

void Collection::announce(int itemIndex)
{
    while (announced_ <= itemIndex) {
        ++announced_;
        writeLine(1,
            "Collecting " + items_[static_cast<std::size_t>(announced_ - 1)].name + " ("
                + std::to_string(announced_) + "/" + std::to_string(items_.size()) + ")");
    }
}

void Collection::addNode(int itemIndex, Node& node)
{
    ItemReport& report = reports_[static_cast<std::size_t>(itemIndex)];
    if (!seen_.insert(node.path).second) {
        ++report.alreadyTaken;
        return;
    }
    Kind kind = Kind::Special;
    if (S_ISREG(node.mode)) {
        // Try it now, so that a file that cannot be read is skipped, not archived empty.
        const int fd = tree_.openFile(node.path);
        if (fd < 0) {
            if (fd != -ENOENT)
                problem(node.path, std::string("unreadable: ") + std::strerror(-fd));
            return;
        }
        ::close(fd);
        kind = Kind::File;
    } else if (S_ISDIR(node.mode)) {
        kind = Kind::Folder;
    } else if (S_ISLNK(node.mode)) {
        kind = Kind::Link;
    }
    ++report.paths;
    entries_.push_back(Entry { kind, itemIndex, std::move(node), 0, 0, {}, {} });
    if (kind == Kind::Special)
        entries_.back().note = "not read";
}

void Collection::list(int itemIndex, const Item& item)
{
    ItemReport& report = reports_[static_cast<std::size_t>(itemIndex)];
    const auto onProblem
        = [this](const std::string& path, const std::string& reason) { problem(path, reason); };
    for (const auto& pattern : item.patterns) {
        bool matched = false;
        if (item.listingOnly) {
            // Listed when the archive gets to it; only the starting folders now.
            tree_.expand(
                pattern, -1,
                [&](Node& node) {
                    matched = true;
                    ++report.paths;
                    const bool folder = S_ISDIR(node.mode);
                    entries_.push_back(Entry { folder ? Kind::Listing : Kind::Special, itemIndex, node,
                        item.listingDepth, 0, {}, folder ? "" : "not a folder, not listed" });
                },
                onProblem);
        } else {
            tree_.expand(
                pattern, 0,
                [&](Node& node) {
                    matched = true;
                    addNode(itemIndex, node);
                },
                onProblem);
        }
        if (!matched)
            report.missing.push_back(pattern);
    }
}

bool Collection::gather(Archive& archive, ArchiveError& error)
{
    writeLine(1, "Listing the sources of " + std::to_string(items_.size()) + " items");
    for (std::size_t i = 0; i < items_.size(); ++i)
        list(static_cast<int>(i), items_[i]);
    entries_.push_back(Entry { Kind::Manifest, -1, {}, 0, 0, {}, {} });
    entries_.push_back(Entry { Kind::Log, -1, {}, 0, 0, {}, {} });

    const struct timespec time = now();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.kind == Kind::Special)
            continue;
        EntryMeta meta;
        const bool generated = e.kind == Kind::Listing || e.kind == Kind::Manifest || e.kind == Kind::Log;
        meta.mtime = generated ? time.tv_sec : e.node.mtime.tv_sec;
        meta.mode = generated ? (S_IFREG | 0644) : e.node.mode;
        meta.compress = e.kind != Kind::Folder && e.kind != Kind::Link
            && !(e.kind == Kind::File && alreadyCompressed(e.node.path));
        streams_.push_back(std::make_unique<Stream>(*this, i));
        if (!archive.add(entryName(e), meta, streams_.back().get(), error))
            return false;
    }
    return true;
}

std::string Collection::entryName(const Entry& entry) const
{
    switch (entry.kind) {
    case Kind::Manifest:
        return "manifest.tsv";
    case Kind::Log:
        return "collection.log";
    case Kind::Listing:
        return "listings" + escapeName(entry.node.path) + ".tsv";
    case Kind::Folder:
        return "files" + escapeName(entry.node.path) + "/";
    default:
        return "files" + escapeName(entry.node.path);
    }
}

std::string Collection::manifestRow(const Entry& entry) const
{
    const bool hasContent
        = entry.kind == Kind::File || entry.kind == Kind::Link || entry.kind == Kind::Listing;
    const bool archived = entry.kind != Kind::Special;
    std::string row = escapeName(entry.node.path);
    row += '\t';
    row += entry.kind == Kind::Listing ? "listing" : typeName(entry.node.mode);
    row += '\t' + std::to_string(archived ? entry.archivedSize : entry.node.size);
    row += '\t' + isoUtc(entry.node.mtime);
    row += '\t' + octal(entry.node.mode & 07777, 4);
    row += '\t' + std::to_string(entry.node.uid);
    row += '\t' + std::to_string(entry.node.gid);
    row += '\t' + (hasContent ? entry.sha256 : std::string("-"));
    row += '\t' + (archived ? entryName(entry) : std::string("-"));
    std::string note = entry.note;
    if (entry.kind == Kind::Link)
        note = "target " + escapeName(entry.node.linkTarget);
    row += '\t' + (note.empty() ? std::string("-") : escapeName(note));
    row += '\n';
    return row;
}

std::string Collection::logText() const
{
    std::string log = "tarnhollow " + info_.version + " collection log\n";
    log += "host: " + escapeName(info_.host) + "\n";
    log += "started: " + isoUtc(info_.start) + "\n";
    log += "source root: " + escapeName(info_.root) + "\n";
    log += "archive: " + escapeName(info_.archivePath) + "\n";
    for (const auto& note : info_.notes)
        log += escapeName(note) + "\n";
    log += "\nitems:\n";
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const ItemReport& r = reports_[i];
        log += std::to_string(i + 1) + ". " + items_[i].name + ": ";
        log += r.paths == 0 ? "skipped, nothing found on this system"
                            : std::to_string(r.paths) + (r.paths == 1 ? " path" : " paths");
        if (r.alreadyTaken > 0)
            log += ", " + std::to_string(r.alreadyTaken) + " already taken by an earlier item";
        log += "\n";
        for (const auto& pattern : r.missing)
            log += "   not present: " + escapeName(pattern) + "\n";
    }
    std::uint64_t bytes = 0;
    std::size_t archived = 0;
    std::vector<std::string> changed;
    for (const auto& e : entries_) {
        if (e.kind == Kind::File || e.kind == Kind::Link || e.kind == Kind::Folder) {
            ++archived;
            bytes += e.archivedSize;
        }
        if (e.kind == Kind::File && !e.note.empty())
            changed.push_back(escapeName(e.node.path) + ": " + e.note);
    }
    log += "\nskipped and errors (" + std::to_string(problems_.size()) + "):\n";
    for (const auto& p : problems_)
        log += "   " + p + "\n";
    log += "\nfiles noted in the manifest (" + std::to_string(changed.size()) + "):\n";
    for (const auto& c : changed)
        log += "   " + c + "\n";
    log += "\nentries: " + std::to_string(archived) + ", content bytes: " + std::to_string(bytes) + "\n";
    log += "manifest sha256: " + manifestSha_ + "\n";
    log += "finished: " + isoUtc(now()) + "\n";
    return log;
}

} // namespace tarnhollow::tool
