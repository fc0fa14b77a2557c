// Regular files: opened once, described by what was opened, archived with
// their full logical content.
#include "collector-tool/Collection.h"

#include "collector-tool/FileContent.h"
#include "collector-tool/Text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhollow::tool {

namespace {

// Member names longer than this, or with a longer component, are stored
// under a hash: unzip tools and file systems refuse them.
constexpr std::size_t kMaxMemberName = 1024;
constexpr std::size_t kMaxMemberComponent = 255;
// Files of unknown size (those of /proc) up to this size are hashed before
// they are stored, so that one content shared by many is stored once; from
// this size on they are remembered for the later ones.
constexpr std::size_t kOnceBytes = 4 << 20;
constexpr std::size_t kRememberFrom = 4 << 10;

bool alreadyCompressed(const std::string& path)
{
    static const char* const suffixes[] = {".gz", ".xz", ".bz2", ".zst", ".lz4", ".zip", ".7z", ".Z", ".tgz"};
    return std::any_of(std::begin(suffixes), std::end(suffixes), [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return path.size() > n && path.compare(path.size() - n, n, suffix) == 0;
    });
}

std::string bytesText(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

void addNote(std::string& note, const std::string& more) { note += (note.empty() ? "" : "; ") + more; }

} // namespace

std::string Collection::memberName(const std::string& path, bool folder) const
{
    std::string name = "files" + escapeName(path);
    std::size_t longest = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i)
        if (i == name.size() || name[i] == '/') {
            longest = std::max(longest, i - start);
            start = i + 1;
        }
    if (name.size() > kMaxMemberName || longest > kMaxMemberComponent) {
        Sha256 hash;
        hash.update(path.data(), path.size());
        name = "long-names/" + hash.finishHex();
    }
    return folder ? name + '/' : name;
}

void Collection::collectFile(const Node& listed)
{
    int fd = -1;
    Record rec = recordOf(listed, "file");
    if (!openListed(listed, fd, rec))
        return;
    if (!readAhead(fd, rec)) {
        settle();
        if (writable() && (linkedEarlier(rec) || archiveContent(fd, rec, budgetFor(rec.node))))
            record(rec);
    }
    ::close(fd);
}

// Opens what was listed and takes the metadata of what was opened.
bool Collection::openListed(const Node& listed, int& fd, Record& rec)
{
    if (beforeOpen)
        beforeOpen(listed.path);
    if (const int error = tree_.openFile(listed.path, fd)) {
        rec.note =
            error == ENOENT || error == ESRCH ? "vanished before it was read" : "unreadable: " + errorText(error);
        record(rec);
        if (error == ENOENT || error == ESRCH)
            log_.line("   vanished: " + rec.name);
        else
            problem(listed.path, rec.note);
        return false;
    }
    if (statOpened(fd, rec.node) != 0 || !S_ISREG(rec.node.mode)) {
        ::close(fd);
        rec.node = listed;
        rec.note = "no longer a regular file";
        record(rec);
        problem(listed.path, rec.note);
        return false;
    }
    if (rec.node.dev != listed.dev || rec.node.ino != listed.ino)
        rec.note = "replaced while collected: listed as inode " + std::to_string(listed.ino) + " modified " +
                   isoUtc(listed.mtime) + ", read inode " + std::to_string(rec.node.ino);
    return true;
}

// A later name of a file archived already: it points to that entry.
bool Collection::linkedEarlier(Record& rec)
{
    if (rec.node.nlink < 2)
        return false;
    const auto found = linked_.find({rec.node.dev, rec.node.ino});
    if (found == linked_.end())
        return false;
    const Taken& first = found->second;
    rec.size = first.size;
    rec.sha = first.sha;
    rec.entry = first.entry;
    addNote(rec.note, "hard link to " + escapeName(first.path) + ", archived once under its entry");
    return true;
}

Collection::Budget Collection::budgetFor(const Node& node) const
{
    const ItemLimits& limits = state_.limits;
    Budget item{limits.byteBudget > state_.bytes ? limits.byteBudget - state_.bytes : 0,
                "the item's budget of " + bytesText(limits.byteBudget)};
    if (state_.userArea) {
        const auto used = accountBytes_.find(node.uid);
        const std::uint64_t spent = used == accountBytes_.end() ? 0 : used->second;
        item = {kAccountByteBudget > spent ? kAccountByteBudget - spent : 0,
                "the budget of " + bytesText(kAccountByteBudget) + " for account " + std::to_string(node.uid)};
    }
    Budget run{kRunByteBudget > runBytes_ ? kRunByteBudget - runBytes_ : 0,
               "the run's budget of " + bytesText(kRunByteBudget)};
    Budget budget = item.cap <= run.cap ? item : run;
    if (limits.fileCap != 0 && limits.fileCap < budget.cap)
        budget = {limits.fileCap, "the per-file cap of " + bytesText(limits.fileCap) + " for folders users can write"};
    if (node.size == 0 && kUnknownSizeCap < budget.cap)
        budget = {kUnknownSizeCap, "the cap of " + bytesText(kUnknownSizeCap) + " for files of unknown size"};
    return budget;
}

void Collection::charge(const Node& node, std::uint64_t bytes)
{
    state_.bytes += bytes;
    runBytes_ += bytes;
    if (state_.userArea)
        accountBytes_[node.uid] += bytes;
}

// Streams the file into its entry. False when the archive failed: nothing
// of the file is then recorded.
bool Collection::archiveContent(int fd, Record& rec, const Budget& budget)
{
    const Node& node = rec.node;
    if (node.size == 0)
        return archiveOnce(fd, rec, budget);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    FileContent content(fd, std::min(node.size, budget.cap), node.allocated < node.size);
    const std::string name = memberName(node.path, false);
    archive().begin(name,
                    {node.mtime.tv_sec, node.mode, !alreadyCompressed(node.path), std::min(node.size, budget.cap)});
    hash_.reset();
    long n = 0;
    while ((n = content.read(buffer_.data(), buffer_.size())) > 0 && archiveOk()) {
        if (content.lastWasHole())
            archive().writeZeros(static_cast<std::size_t>(n));
        else
            archive().write(buffer_.data(), static_cast<std::size_t>(n));
        hash_.update(buffer_.data(), static_cast<std::size_t>(n));
    }
    if (!archive().end())
        return false;
    rec.size = content.offset();
    rec.sha = hash_.finishHex();
    rec.entry = name;
    charge(node, rec.size);
    if (n < 0) {
        addNote(rec.note, "read failed after " + bytesText(rec.size) + ": " + errorText(content.error()));
        problem(node.path, "read failed after " + bytesText(rec.size) + ": " + errorText(content.error()));
    } else {
        noteContent(fd, rec, budget, content.holeBytes(), budget.cap < node.size);
    }
    if (node.nlink > 1)
        linked_[{node.dev, node.ino}] = {rec.entry, rec.sha, rec.size, node.path};
    return true;
}

void Collection::noteContent(int fd, Record& rec, const Budget& budget, std::uint64_t holes, bool cutShort)
{
    const std::uint64_t listed = rec.node.size;
    struct stat after {};
    const std::uint64_t now = ::fstat(fd, &after) == 0 ? static_cast<std::uint64_t>(after.st_size) : listed;
    if (cutShort) {
        const std::string note = "cut at " + bytesText(rec.size) + " by " + budget.reason;
        addNote(rec.note, note);
        cut(rec.node.path, note + "; the rest of the file left out");
    } else if (listed > 0 && rec.size < listed) {
        addNote(rec.note, "shrank while read: " + std::to_string(rec.size) + " of " + bytesText(listed));
    } else if (listed > 0 && now > listed) {
        addNote(rec.note,
                "grew while collected: first " + std::to_string(listed) + " of now " + bytesText(now) + " archived");
    }
    if (holes > 0)
        addNote(rec.note, "sparse: " + bytesText(holes) + " of holes archived as zeros");
}

// A file of unknown size: read whole first where it is small, so that a
// content many files share (a command line) is stored once.
bool Collection::archiveOnce(int fd, Record& rec, const Budget& budget)
{
    FileContent content(fd, budget.cap, false);
    std::string data;
    const std::uint64_t first = std::min<std::uint64_t>(kOnceBytes, budget.cap);
    long n = 1;
    while (data.size() < first &&
           (n = content.read(buffer_.data(), std::min<std::uint64_t>(buffer_.size(), first - data.size()))) > 0)
        data.append(buffer_.data(), static_cast<std::size_t>(n));
    if (n < 0 && data.empty() && (content.error() == ESRCH || content.error() == ENOENT)) {
        addNote(rec.note, "vanished before it was read");
        log_.line("   vanished: " + rec.name);
        return true;
    }
    const bool whole = n <= 0;
    hash_.reset();
    hash_.update(data.data(), data.size());
    const std::string sha = whole ? hash_.finishHex() : std::string();
    const auto found = whole && data.size() >= kRememberFrom ? contents_.find(sha) : contents_.end();
    if (found != contents_.end()) {
        rec.size = found->second.size;
        rec.sha = sha;
        rec.entry = found->second.entry;
        addNote(rec.note, "same content as " + escapeName(found->second.path) + ", archived once under its entry");
        return true;
    }
    const std::string name = memberName(rec.node.path, false);
    archive().begin(name, {rec.node.mtime.tv_sec, rec.node.mode, true, budget.cap});
    archive().write(data.data(), data.size());
    while (!whole && archiveOk() && (n = content.read(buffer_.data(), buffer_.size())) > 0) {
        archive().write(buffer_.data(), static_cast<std::size_t>(n));
        hash_.update(buffer_.data(), static_cast<std::size_t>(n));
    }
    if (!archive().end())
        return false;
    rec.size = content.offset();
    rec.sha = whole ? sha : hash_.finishHex();
    rec.entry = name;
    charge(rec.node, rec.size);
    if (whole && rec.size >= kRememberFrom)
        contents_[sha] = {rec.entry, rec.sha, rec.size, rec.node.path};
    if (n < 0)
        addNote(rec.note, "read failed after " + bytesText(rec.size) + ": " + errorText(content.error()));
    else if (content.more())
        cut(rec.node.path,
            "cut at " + bytesText(rec.size) + " by " + budget.reason + "; the rest of the file left out");
    return true;
}

} // namespace tarnhollow::tool
