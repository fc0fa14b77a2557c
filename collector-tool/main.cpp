// tarnhollow: collects the artifacts of this machine into one zip archive.
// Run as root as "tarnhollow -o FOLDER"; see --help.

#include "collector-tool/Archive.h"
#include "collector-tool/Collection.h"
#include "collector-tool/Items.h"
#include "collector-tool/Sources.h"
#include "collector-tool/Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#ifndef TARNHOLLOW_VERSION
#define TARNHOLLOW_VERSION "0"
#endif

namespace tool = tarnhollow::tool;

namespace {

const char* const kUsage = "usage: tarnhollow -o FOLDER\n"
                           "Collects this machine's artifacts into one zip archive in FOLDER, named\n"
                           "from the host name and the start time (UTC). Run as root; SUDO_UID and\n"
                           "SUDO_GID, when set, name the owner of the finished archive.\n"
                           "  --system linux|macos   which system's artifacts to look for; by\n"
                           "                         default the running system's\n"
                           "  --root DIR   look the sources up below DIR instead of / (for tests)";

// The failure report: the last line of the output, one sentence that the
// application shows as it is.
int fail(const std::string& sentence)
{
    tool::writeLine(2, sentence);
    return 1;
}

std::string quoted(const std::string& path)
{
    return "「" + tool::escapeName(path) + "」";
}

int failWriting(int error, const std::string& folder, const std::string& detail)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return fail(
            "出力先フォルダー" + quoted(folder) + "に書き込めないため、アーカイブを保存できませんでした。");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return fail("出力先" + quoted(folder)
            + "のディスクがいっぱいになったため、アーカイブを保存できませんでした。");
    case EFBIG:
        return fail("アーカイブが出力先" + quoted(folder)
            + "のファイルシステムで扱えるファイルの大きさを超えたため、保存できませんでした。");
    case ENOENT:
    case ENOTDIR:
        return fail(
            "出力先フォルダー" + quoted(folder) + "が見つからないため、アーカイブを保存できませんでした。");
    default:
        return fail("出力先" + quoted(folder)
            + "への書き込みに失敗したため、アーカイブを保存できませんでした（"
            + tool::escapeName(detail.empty() ? std::strerror(error) : detail) + "）。");
    }
}

// Renames without ever replacing an existing file.
int renameExclusive(const std::string& from, const std::string& to)
{
#if defined(__linux__)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#elif defined(__APPLE__)
    if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0)
        return 0;
    if (errno != ENOTSUP && errno != EINVAL)
        return errno;
#endif
    // File systems without an exclusive rename (some removable media).
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    struct stat st { };
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

struct Owner {
    bool valid = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string note;
};

Owner ownerFromEnvironment()
{
    Owner owner;
    const char* uidText = std::getenv("SUDO_UID");
    const char* gidText = std::getenv("SUDO_GID");
    std::uint64_t uid = 0;
    std::uint64_t gid = 0;
    // (uid_t)-1 means "no change" to chown, so it is no valid owner.
    const std::uint64_t maxId = static_cast<std::uint64_t>(static_cast<uid_t>(-1)) - 1;
    if (uidText == nullptr || gidText == nullptr) {
        owner.note = "owner: SUDO_UID or SUDO_GID not set, the archive stays with root";
    } else if (!tool::parseDecimal(uidText, maxId, uid) || !tool::parseDecimal(gidText, maxId, gid)) {
        owner.note = "owner: SUDO_UID or SUDO_GID malformed (\"" + std::string(uidText) + "\", \"" + gidText
            + "\"), the archive stays with root";
    } else {
        owner.valid = true;
        owner.uid = static_cast<uid_t>(uid);
        owner.gid = static_cast<gid_t>(gid);
        owner.note = "owner: " + std::to_string(uid) + ":" + std::to_string(gid);
    }
    return owner;
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "host";
    return name;
}

struct Target {
    std::string base; // without extension
    std::string finalPath;
    std::string partPath;
};

Target targetFor(const std::string& folder, const std::string& host, std::time_t start, int attempt)
{
    Target t;
    t.base = tool::fileNameSafe(host) + "-" + tool::compactUtc(start);
    if (attempt > 1)
        t.base += "-" + std::to_string(attempt);
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    t.finalPath = prefix + t.base + ".zip";
    t.partPath = prefix + t.base + ".zip.part";
    return t;
}

int run(int argc, char** argv)
{
    struct timespec start { };
    ::clock_gettime(CLOCK_REALTIME, &start);

    std::string output;
    std::string root = "/";
    tool::ItemSystem system = tool::runningSystem();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            tool::writeLine(1, kUsage);
            return 0;
        }
        if (arg == "--version") {
            tool::writeLine(1, std::string("tarnhollow ") + TARNHOLLOW_VERSION);
            return 0;
        }
        if (arg == "--system" && i + 1 < argc) {
            const std::optional<tool::ItemSystem> named = tool::systemNamed(argv[++i]);
            if (!named) {
                tool::writeLine(2, kUsage);
                return fail("システム「" + tool::escapeName(argv[i]) + "」は選べないため、収集を始められません。");
            }
            system = *named;
            continue;
        }
        if ((arg == "-o" || arg == "--root") && i + 1 < argc) {
            (arg == "-o" ? output : root) = argv[++i];
            continue;
        }
        tool::writeLine(2, kUsage);
        return fail("引数「" + tool::escapeName(arg) + "」が正しくないため、収集を始められません。");
    }
    if (output.empty()) {
        tool::writeLine(2, kUsage);
        return fail("出力先フォルダーが指定されていないため、収集を始められません。");
    }
    output = withoutTrailingSlashes(output);

    struct stat folder { };
    if (::stat(output.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return fail("出力先フォルダー" + quoted(output) + "が見つからないため、収集を始められません。");

    tool::SourceTree tree;
    std::string treeError;
    if (!tree.open(root, treeError))
        return fail("調べるフォルダー" + quoted(root) + "を開けないため、収集を始められません（" + treeError
            + "）。");

    // Reserve the name first: a folder we cannot write to fails at once, not
    // after the whole collection.
    const std::string host = hostName();
    int attempt = 1;
    Target target;
    for (;; ++attempt) {
        if (attempt > 1000)
            return failWriting(EEXIST, output, "");
        target = targetFor(output, host, start.tv_sec, attempt);
        struct stat existing { };
        if (::lstat(target.finalPath.c_str(), &existing) == 0)
            continue;
        const int fd
            = ::open(target.partPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        if (errno != EEXIST)
            return failWriting(errno, output, "");
    }
    struct PartFile {
        std::string path;
        bool keep = false;
        ~PartFile()
        {
            if (!keep)
                ::unlink(path.c_str());
        }
    } part { target.partPath };
    // The archive may be written inside a collected folder; it must not collect itself.
    struct stat placeholder { };
    if (::stat(target.partPath.c_str(), &placeholder) == 0)
        tree.exclude(placeholder.st_dev, placeholder.st_ino);

    const Owner owner = ownerFromEnvironment();
    tool::RunInfo info;
    info.version = TARNHOLLOW_VERSION;
    info.host = host;
    info.root = root;
    info.archivePath = target.finalPath;
    info.start = start;
    info.notes.push_back(owner.note);
    info.notes.push_back(std::string("item table: ") + tool::systemName(system));
    if (!owner.valid)
        tool::writeLine(2, tool::escapeName(owner.note));

    tool::Archive archive;
    tool::ArchiveError error;
    if (!archive.open(target.partPath, error))
        return failWriting(error.systemError, output, error.text);
    tool::Collection collection(tree, tool::collectionItems(system), info);
    if (!collection.gather(archive, error) || !archive.close(error))
        return failWriting(error.systemError, output, error.text);

    if (owner.valid && ::lchown(target.partPath.c_str(), owner.uid, owner.gid) != 0)
        tool::writeLine(2,
            "Could not hand the archive to " + std::to_string(owner.uid) + ":" + std::to_string(owner.gid)
                + ": " + std::strerror(errno));

    for (;;) {
        const int renamed = renameExclusive(target.partPath, target.finalPath);
        if (renamed == 0)
            break;
        if (renamed != EEXIST || attempt > 1000)
            return failWriting(renamed, output, "");
        target = targetFor(output, host, start.tv_sec, ++attempt);
    }
    part.keep = true;

    // Coarse file systems (two-second steps) can round the time down to
    // before the run began, where the application would not look for it.
    struct stat written { };
#ifdef __APPLE__
    const struct timespec& mtime = written.st_mtimespec;
#else
    const struct timespec& mtime = written.st_mtim;
#endif
    if (::stat(target.finalPath.c_str(), &written) == 0
        && (mtime.tv_sec < start.tv_sec || (mtime.tv_sec == start.tv_sec && mtime.tv_nsec < start.tv_nsec))) {
        const struct timespec times[2] = { { 0, UTIME_OMIT }, { start.tv_sec + 2, 0 } };
        ::utimensat(AT_FDCWD, target.finalPath.c_str(), times, 0);
    }

    tool::writeLine(1,
        "Archive written: " + tool::escapeName(target.finalPath) + " (" + std::to_string(written.st_size)
            + " bytes, " + std::to_string(collection.problemCount())
            + " paths skipped or unreadable, see collection.log)");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The output may be a file on a full disk or a closed pipe; a failed
    // write must come back as an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    ::umask(077);
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return fail(std::string("予期しないエラーのため、収集を中止しました（") + tool::escapeName(e.what())
            + "）。");
    }
}
