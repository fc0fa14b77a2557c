// tarnhollow: collects the artifacts of this machine into one zip archive.
// Run as root as "tarnhollow -o FOLDER"; see --help.

#include "collector-tool/Archive.h"
#include "collector-tool/Collection.h"
#include "collector-tool/Items.h"
#include "collector-tool/OutputFolder.h"
#include "collector-tool/ScratchFile.h"
#include "collector-tool/Sources.h"
#include "collector-tool/Text.h"
#include "collector/Contract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

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

std::string inCornerBrackets(const std::string& path) { return "「" + tool::escapeName(path) + "」"; }

int failWriting(int error, const std::string& folder, const std::string& detail)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return fail("出力先フォルダー" + inCornerBrackets(folder) +
                    "に書き込めないため、アーカイブを保存できませんでした。");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return fail("出力先" + inCornerBrackets(folder) +
                    "のディスクがいっぱいになったため、アーカイブを保存できませんでした。");
    case EFBIG:
        return fail("アーカイブが出力先" + inCornerBrackets(folder) +
                    "のファイルシステムで扱えるファイルの大きさを超えたため、保存できませんでした。");
    case ENOENT:
    case ENOTDIR:
        return fail("出力先フォルダー" + inCornerBrackets(folder) +
                    "が見つからないため、アーカイブを保存できませんでした。");
    default:
        return fail("出力先" + inCornerBrackets(folder) +
                    "への書き込みに失敗したため、アーカイブを保存できませんでした（" +
                    tool::escapeName(detail.empty() ? std::strerror(error) : detail) + "）。");
    }
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
        owner.note = "owner: SUDO_UID or SUDO_GID malformed (\"" + std::string(uidText) + "\", \"" + gidText +
                     "\"), the archive stays with root";
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

std::string readSmallFile(const tool::SourceTree& tree, const std::string& path)
{
    const int fd = tree.openFile(path);
    if (fd < 0)
        return {};
    std::string text(4096, '\0');
    const ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

// The system's own description of itself, for the log.
std::vector<std::string> systemNotes(const tool::SourceTree& tree, const std::string& root)
{
    std::vector<std::string> notes;
    struct utsname names {};
    if (::uname(&names) == 0)
        notes.push_back(std::string("running system: ") + names.sysname + " " + names.release + " " + names.version +
                        " " + names.machine);
#ifdef __APPLE__
    const std::string release = readSmallFile(tree, "/System/Library/CoreServices/SystemVersion.plist");
    const std::size_t key = release.find("<key>ProductVersion</key>");
    if (key != std::string::npos) {
        const std::size_t open = release.find("<string>", key);
        const std::size_t close = release.find("</string>", open);
        if (open != std::string::npos && close != std::string::npos)
            notes.push_back("os version: macOS " + release.substr(open + 8, close - open - 8));
    }
    // Without Full Disk Access even root is refused the privacy database.
    const int probe = ::open("/Library/Application Support/com.apple.TCC/TCC.db", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        notes.push_back("full disk access: in effect (TCC.db could be opened)");
    } else {
        notes.push_back(std::string("full disk access: not in effect (opening TCC.db: ") + std::strerror(errno) + ")");
    }
#else
    const std::string release = readSmallFile(tree, "/etc/os-release");
    const std::size_t key = release.find("PRETTY_NAME=");
    if (key != std::string::npos) {
        std::string value = release.substr(key + 12, release.find('\n', key) - key - 12);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        notes.push_back("os version: " + value + (root == "/" ? "" : " (from the source root)"));
    }
    notes.push_back("full disk access: not applicable on this system");
#endif
    (void)root;
    return notes;
}

int run(int argc, char** argv)
{
    struct timespec start {};
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

    // Started by the app, root is told which folder the app saw; a folder
    // put in its place since, or reached through a link, is refused.
    std::optional<std::pair<uint64_t, uint64_t>> pin;
    if (const char* pinText = std::getenv(std::string(tarnhollow::contract::outputPinVariable).c_str())) {
        pin = tarnhollow::contract::parsePinText(pinText);
        if (!pin)
            return fail(std::string(tarnhollow::contract::outputFolderChanged));
    }
    tool::OutputFolder folder;
    if (const int error = folder.open(output, pin); error != 0) {
        if (pin && error != EACCES && error != EPERM)
            return fail(std::string(tarnhollow::contract::outputFolderChanged));
        if (error == EACCES || error == EPERM)
            return failWriting(error, output, "");
        return fail("出力先フォルダー" + inCornerBrackets(output) + "が見つからないため、収集を始められません。");
    }

    tool::SourceTree tree;
    std::string treeError;
    if (!tree.open(root, treeError))
        return fail("調べるフォルダー" + inCornerBrackets(root) + "を開けないため、収集を始められません（" + treeError +
                    "）。");

    // The file first: a folder we cannot write to fails at once, not after
    // the whole collection.
    const std::string host = hostName();
    std::string base = tool::fileNameSafe(host);
    base += '-';
    base += tool::compactUtc(start.tv_sec);
    const int archiveFd = folder.createArchiveFile(base);
    if (archiveFd < 0)
        return failWriting(-archiveFd, output, "");
    struct Cleanup {
        tool::OutputFolder& folder;
        int fd;
        bool keep = false;
        ~Cleanup()
        {
            if (!keep)
                folder.discard(fd);
            ::close(fd);
        }
    } cleanup{folder, archiveFd};

    const Owner owner = ownerFromEnvironment();
    tool::RunInfo info;
    info.version = TARNHOLLOW_VERSION;
    info.host = host;
    info.root = root;
    info.archivePath = (output == "/" ? "/" : output + "/") + base + ".zip";
    info.start = start;
    info.notes.push_back(owner.note);
    info.notes.push_back(std::string("item table: ") + tool::systemName(system));
    if (!owner.valid)
        tool::writeLine(2, tool::escapeName(owner.note));

    // Handed over at once, on the open file: the medium tells now whether it
    // keeps an owner and a mode at all.
    struct stat st {};
    if (owner.valid && ::fchown(archiveFd, owner.uid, owner.gid) != 0)
        info.notes.push_back(std::string("owner: could not be set: ") + std::strerror(errno));
    ::fchmod(archiveFd, 0600);
    if (::fstat(archiveFd, &st) == 0) {
        // The archive must not collect itself when it lies in a collected folder.
        tree.exclude(st.st_dev, st.st_ino);
        if ((owner.valid && (st.st_uid != owner.uid || st.st_gid != owner.gid)) || (st.st_mode & 07777) != 0600)
            info.notes.push_back(
                "archive file: the output medium keeps owner " + std::to_string(st.st_uid) + ":" +
                std::to_string(st.st_gid) + " and mode " + tool::octal(st.st_mode & 07777, 4) +
                " instead of the ones set (a file system without Unix ownership, such as FAT or exFAT)");
    }
    for (auto& note : systemNotes(tree, root))
        info.notes.push_back(std::move(note));

    tool::RunScratch scratch;
    tool::ScratchFile directory;
    for (tool::ScratchFile* file : {&scratch.manifest, &scratch.timeline, &scratch.log, &directory})
        if (const int error = tool::ScratchFile::create(folder.fd(), *file); error != 0)
            return failWriting(-error, output, "");
    scratch.folderFd = folder.fd();

    tool::Archive archive(archiveFd, std::move(directory));
    tool::Collection collection(tree, tool::collectionItems(system), info, std::move(scratch));
    if (!collection.run(archive) || !archive.close())
        return failWriting(archive.error(), output, "");

    // Coarse file systems (two-second steps) can round the time down to
    // before the run began, where the application would not look for it.
    if (::fstat(archiveFd, &st) == 0) {
#ifdef __APPLE__
        const struct timespec& mtime = st.st_mtimespec;
#else
        const struct timespec& mtime = st.st_mtim;
#endif
        if (mtime.tv_sec < start.tv_sec || (mtime.tv_sec == start.tv_sec && mtime.tv_nsec < start.tv_nsec)) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {start.tv_sec + 2, 0}};
            ::futimens(archiveFd, times);
        }
    }

    std::string name;
    if (const int error = folder.publish(archiveFd, base, archive.sha256(), owner.uid, owner.gid, owner.valid, name);
        error != 0)
        return failWriting(error, output, "");
    cleanup.keep = true;

    if (::fstat(archiveFd, &st) == 0 && owner.valid && (st.st_uid != owner.uid || st.st_gid != owner.gid))
        tool::writeLine(2, "The output medium does not keep file owners: the archive belongs to " +
                               std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid));
    std::string path = output == "/" ? "/" : output + "/";
    path += name;
    tool::writeLine(1, "Archive written: " + tool::escapeName(path) + " (" + std::to_string(st.st_size) + " bytes, " +
                           std::to_string(collection.problemCount()) +
                           " paths skipped or unreadable, see collection.log)");
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
        return fail(std::string("予期しないエラーのため、収集を中止しました（") + tool::escapeName(e.what()) + "）。");
    }
}
