// tarnhollow: collects the artifacts of this machine into one zip archive.
// Run as root as "tarnhollow -o FOLDER"; see --help.

#include "collector-tool/ArchiveFiles.h"
#include "collector-tool/Collection.h"
#include "collector-tool/Failures.h"
#include "collector-tool/Items.h"
#include "collector-tool/OutputDirectory.h"
#include "collector-tool/ScratchFile.h"
#include "collector-tool/Sources.h"
#include "collector-tool/Text.h"
#include "collector-tool/deflate/DeflatePool.h"
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
namespace contract = tarnhollow::contract;

namespace {

const char* const kUsage = "usage: tarnhollow -o FOLDER\n"
                           "Collects this machine's artifacts into one zip archive in FOLDER (more\n"
                           "when the medium's file size limit needs them), named from the host name\n"
                           "and the start time (UTC). Run as root; SUDO_UID and\n"
                           "SUDO_GID, when set, name the owner of the finished archive.\n"
                           "  --system linux|macos   which system's artifacts to look for; by\n"
                           "                         default the running system's\n"
                           "  --root DIR   look the sources up below DIR instead of / (for tests)\n"
                           "  --jobs N     deflate on N threads; by default one per core";

// The failure report: the last line of the output, one sentence that the
// application shows as it is.
int fail(const std::string& sentence)
{
    tool::writeLine(2, sentence);
    return 1;
}

tool::Owner ownerFromEnvironment()
{
    tool::Owner owner;
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
    int fd = -1;
    if (tree.openFile(path, fd) != 0)
        return {};
    std::string text(4096, '\0');
    const ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

// Without Full Disk Access even root is refused the privacy database; then
// much of what the items name is closed to the run. 0, or the errno.
int fullDiskAccessRefused()
{
#ifdef __APPLE__
    const int probe = ::open("/Library/Application Support/com.apple.TCC/TCC.db", O_RDONLY | O_CLOEXEC);
    if (probe < 0)
        return errno;
    ::close(probe);
#endif
    return 0;
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
    const int refused = fullDiskAccessRefused();
    notes.push_back(refused == 0 ? std::string("full disk access: in effect (TCC.db could be opened)")
                                 : std::string("full disk access: not in effect (opening TCC.db: ") +
                                       std::strerror(refused) + ")");
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

struct Arguments {
    std::string output;
    std::string root = "/";
    tool::ItemSystem system = tool::runningSystem();
};

// Reads the command line; a status to end with when it asks for no run.
std::optional<int> parse(int argc, char** argv, Arguments& args)
{
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
                return fail("システム" + tool::quoted(argv[i]) + "は選べないため、収集を始められません。");
            }
            args.system = *named;
            continue;
        }
        if (arg == "--jobs" && i + 1 < argc) {
            std::uint64_t jobs = 0;
            if (!tool::parseDecimal(argv[++i], 256, jobs) || jobs == 0) {
                tool::writeLine(2, kUsage);
                return fail("スレッド数" + tool::quoted(argv[i]) + "が正しくないため、収集を始められません。");
            }
            tool::DeflatePool::setThreads(static_cast<unsigned>(jobs));
            continue;
        }
        if ((arg == "-o" || arg == "--root") && i + 1 < argc) {
            (arg == "-o" ? args.output : args.root) = argv[++i];
            continue;
        }
        tool::writeLine(2, kUsage);
        return fail("引数" + tool::quoted(arg) + "が正しくないため、収集を始められません。");
    }
    if (args.output.empty()) {
        tool::writeLine(2, kUsage);
        return fail("出力先フォルダーが指定されていないため、収集を始められません。");
    }
    args.output = withoutTrailingSlashes(args.output);
    return std::nullopt;
}

std::string inFolder(const std::string& folder, const std::string& name)
{
    return (folder == "/" ? "/" : folder + "/") + name;
}

// The closing lines: where the archives are, what kept them from being one.
int report(const tool::Collection& collection, tool::Outcome outcome, const tool::ArchiveFiles& files,
           const Arguments& args)
{
    const auto& published = files.published();
    for (const auto& archive : published)
        if (archive.sidecarError != 0)
            tool::writeLine(2, "The checksum file beside " + tool::unsteerable(tool::escapeName(archive.name)) +
                                   " could not be written (" + tool::errorText(archive.sidecarError) +
                                   "); the archive itself is complete");
    if (!files.ownerKept().empty())
        tool::writeLine(2, "The output medium does not keep file owners: the archive belongs to " + files.ownerKept());
    if (outcome == tool::Outcome::mediumFull)
        return fail(tool::fullMediumSentence(args.output, inFolder(args.output, published.back().name)));
    std::string names;
    for (const auto& archive : published)
        names += (names.empty() ? "" : ", ") + tool::unsteerable(tool::escapeName(inFolder(args.output, archive.name)));
    if (published.size() > 1)
        tool::writeLine(1, "The collection did not fit in one file on this medium (at most " +
                               std::to_string(files.sizeLimit()) + " bytes each); it is split into " +
                               std::to_string(published.size()) + " archives, each with its own manifest");
    tool::writeLine(1, std::string(published.size() > 1 ? "Archives written: " : "Archive written: ") + names + " (" +
                           std::to_string(collection.problemCount()) +
                           " paths skipped or unreadable, see collection.log)");
    return 0;
}

tool::RunInfo runInfo(const Arguments& args, const std::string& host, const struct timespec& start,
                      const tool::Owner& owner)
{
    tool::RunInfo info;
    info.version = TARNHOLLOW_VERSION;
    info.host = host;
    info.root = args.root;
    info.folder = args.output;
    info.start = start;
    info.notes.push_back(owner.note);
    info.notes.push_back(std::string("item table: ") + tool::systemName(args.system));
    return info;
}

int collect(const Arguments& args, tool::OutputDirectory& folder, tool::SourceTree& tree, const struct timespec& start)
{
    const std::string host = hostName();
    const tool::Owner owner = ownerFromEnvironment();
    if (!owner.valid)
        tool::writeLine(2, tool::unsteerable(tool::escapeName(owner.note)));
    tool::RunInfo info = runInfo(args, host, start, owner);
    // The file first: a folder we cannot write to fails at once, not after
    // the whole collection.
    // An archive taken without Full Disk Access says so in its name and in a
    // note that is its first entry.
    const bool limited = args.root == "/" && fullDiskAccessRefused() != 0;
    if (limited)
        info.topNote = tool::kLimitedNote;
    const std::string base = tool::fileNameSafe(host) + "-" + tool::compactUtc(start.tv_sec);
    tool::ArchiveFiles files(folder, limited ? base + "-limited" : base, owner, tree, start);
    if (const int error = files.start(info.notes))
        return fail(tool::writeFailure(error, args.output));
    for (auto& note : systemNotes(tree, args.root))
        info.notes.push_back(std::move(note));
    tool::ScratchFile log;
    if (const int error = tool::ScratchFile::create(folder.fd(), log))
        return fail(tool::writeFailure(error, args.output));
    tool::Collection collection(tree, tool::collectionItems(args.system), info, files, std::move(log));
    const tool::Outcome outcome = collection.run();
    if (outcome == tool::Outcome::failed)
        return fail(tool::writeFailure(collection.error(), args.output));
    return report(collection, outcome, files, args);
}

int run(int argc, char** argv)
{
    struct timespec start {};
    ::clock_gettime(CLOCK_REALTIME, &start);
    Arguments args;
    if (const std::optional<int> status = parse(argc, argv, args))
        return *status;
    // Started by the app, root is told which folder the app saw; a folder
    // put in its place since, or reached through a link, is refused.
    std::optional<std::pair<uint64_t, uint64_t>> pin;
    if (const char* pinText = std::getenv(std::string(contract::outputPinVariable).c_str())) {
        pin = contract::parsePinText(pinText);
        if (!pin)
            return fail(std::string(contract::outputFolderChanged));
    }
    tool::OutputDirectory folder;
    if (const int error = folder.open(args.output, pin)) {
        if (pin && error != EACCES && error != EPERM)
            return fail(std::string(contract::outputFolderChanged));
        return fail(tool::openFailure(error, args.output));
    }
    tool::SourceTree tree;
    std::string treeError;
    if (!tree.open(args.root, treeError))
        return fail("調べるフォルダー" + tool::quoted(args.root) + "を開けないため、収集を始められません（" +
                    treeError + "）。");
    return collect(args, folder, tree, start);
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
