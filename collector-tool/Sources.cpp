#include "collector-tool/Sources.h"
#include "collector-tool/Text.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace tarnhollow::tool {

namespace {

#ifdef O_NOATIME
constexpr int kNoAtime = O_NOATIME;
#else
constexpr int kNoAtime = 0;
#endif

// Neither reading nor listing may change the access time where the system
// lets us say so; O_NOATIME is refused for files of other owners without
// the capability, then we go on without it.
int openNoAtime(int dirFd, const char* name, int flags)
{
    int fd = ::openat(dirFd, name, flags | kNoAtime);
    if (fd < 0 && errno == EPERM && kNoAtime != 0)
        fd = ::openat(dirFd, name, flags);
    return fd;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= text.size()) {
        const std::size_t j = text.find(separator, i);
        const std::size_t end = j == std::string::npos ? text.size() : j;
        if (end > i)
            parts.push_back(text.substr(i, end - i));
        i = end + 1;
    }
    return parts;
}

bool isWildcard(const std::string& part) { return part.find_first_of("*?[") != std::string::npos; }

std::string joined(const std::string& prefix, const std::string& name)
{
    return prefix == "/" ? "/" + name : prefix + "/" + name;
}

// Sorted names of a folder's entries, without "." and "..", at most
// budget bytes of them; cut tells whether some were left out.
bool readNames(int fd, std::vector<std::string>& names, std::size_t budget, bool& cut)
{
    cut = false;
    std::size_t used = 0;
    const int copy = ::dup(fd);
    if (copy < 0)
        return false;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return false;
    }
    errno = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        const std::size_t cost = std::strlen(entry->d_name) + sizeof(std::string);
        if (used + cost > budget) {
            cut = true;
            break;
        }
        used += cost;
        names.emplace_back(entry->d_name);
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return ok;
}

constexpr std::size_t kMatchNameBytes = 8 << 20;

} // namespace

const char* typeName(mode_t mode)
{
    if (S_ISREG(mode))
        return "file";
    if (S_ISDIR(mode))
        return "folder";
    if (S_ISLNK(mode))
        return "link";
    if (S_ISFIFO(mode))
        return "fifo";
    if (S_ISSOCK(mode))
        return "socket";
    if (S_ISCHR(mode))
        return "char-device";
    if (S_ISBLK(mode))
        return "block-device";
    return "other";
}

SourceTree::~SourceTree()
{
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

bool SourceTree::open(const std::string& root, std::string& error)
{
    rootFd_ = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0)
        error = errorText(errno);
    return rootFd_ >= 0;
}

void SourceTree::exclude(dev_t dev, ino_t ino) { excluded_.emplace_back(dev, ino); }

int SourceTree::openFolder(int dirFd, const std::string& name) const
{
    return openNoAtime(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool SourceTree::makeNode(int dirFd, const std::string& name, const std::string& path, Node& node,
                          const ProblemHandler& problem) const
{
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            problem(path, "cannot examine: " + errorText(errno));
        return false;
    }
    if (std::find(excluded_.begin(), excluded_.end(), std::make_pair(st.st_dev, st.st_ino)) != excluded_.end())
        return false;
    node = Node{};
    node.path = path;
    fillFromStat(st, node);
    addBirthtime(dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW, node);
    if (S_ISLNK(st.st_mode)) {
        std::string target(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 256, '\0');
        const ssize_t n = ::readlinkat(dirFd, name.c_str(), target.data(), target.size());
        if (n < 0) {
            // Kernel threads have /proc links that cannot be read; they simply have no target.
            if (errno != ENOENT)
                problem(path, "cannot read link: " + errorText(errno));
            return false;
        }
        target.resize(static_cast<std::size_t>(n));
        node.linkTarget = target;
    }
    return true;
}

void SourceTree::expand(const std::string& pattern, int maxDepth, const WalkLimits& limits,
                        const std::function<bool(Node&)>& visit, const ProblemHandler& problem,
                        const CutHandler& cut) const
{
    const auto parts = split(pattern, '/');
    if (!parts.empty())
        match(rootFd_, "/", parts, 0, maxDepth, limits, visit, problem, cut);
}

namespace {

// The names in the folder that one pattern component stands for; false
// when the folder could not be listed.
bool namesMatching(int dirFd, const std::string& prefix, const std::string& part, std::vector<std::string>& names,
                   const ProblemHandler& problem, const CutHandler& cut)
{
    if (part.size() > 2 && part.front() == '{' && part.back() == '}') {
        names = split(part.substr(1, part.size() - 2), ',');
        return true;
    }
    if (!isWildcard(part)) {
        names.push_back(part);
        return true;
    }
    std::vector<std::string> all;
    bool partial = false;
    if (!readNames(dirFd, all, kMatchNameBytes, partial)) {
        problem(prefix, "cannot list folder: " + errorText(errno));
        return false;
    }
    if (partial)
        cut(prefix, "folder holds too many names; only the first " + std::to_string(all.size()) + " looked at");
    for (auto& name : all)
        if (::fnmatch(part.c_str(), name.c_str(), FNM_PERIOD) == 0)
            names.push_back(std::move(name));
    return true;
}

} // namespace

bool SourceTree::match(int dirFd, const std::string& prefix, const std::vector<std::string>& parts, std::size_t index,
                       int maxDepth, const WalkLimits& limits, const std::function<bool(Node&)>& visit,
                       const ProblemHandler& problem, const CutHandler& cut) const
{
    std::vector<std::string> names;
    if (!namesMatching(dirFd, prefix, parts[index], names, problem, cut))
        return true;

    const bool last = index + 1 == parts.size();
    for (const auto& name : names) {
        const std::string path = joined(prefix, name);
        Node node;
        if (!makeNode(dirFd, name, path, node, problem))
            continue;
        if (!S_ISDIR(node.mode)) {
            // A link in the middle of a pattern is recorded, not followed.
            if ((last || S_ISLNK(node.mode)) && !visit(node))
                return false;
            continue;
        }
        if (last) {
            if (!visit(node))
                return false;
            if (maxDepth < 0)
                continue;
        }
        const int fd = openFolder(dirFd, name);
        if (fd < 0) {
            problem(path, "cannot open folder: " + errorText(errno));
            continue;
        }
        if (last) {
            Walker walker(*this, fd, path, maxDepth, limits, problem, cut);
            Node below;
            while (walker.next(below))
                if (!visit(below))
                    return false;
        } else {
            const bool more = match(fd, path, parts, index + 1, maxDepth, limits, visit, problem, cut);
            ::close(fd);
            if (!more)
                return false;
        }
    }
    return true;
}

int SourceTree::openFile(const std::string& path, int& fd) const
{
    return openBelowRoot(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, fd);
}

std::unique_ptr<SourceTree::Walker> SourceTree::walk(const std::string& path, int maxDepth, const WalkLimits& limits,
                                                     const ProblemHandler& problem, const CutHandler& cut) const
{
    int fd = -1;
    if (const int error = openBelowRoot(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, fd)) {
        problem(path, "cannot open folder: " + errorText(error));
        return nullptr;
    }
    return std::make_unique<Walker>(*this, fd, path, maxDepth, limits, problem, cut);
}

int SourceTree::openBelowRoot(const std::string& path, int flags, int& fd) const
{
    const std::size_t start = path.find_first_not_of('/');
    const std::string relative = start == std::string::npos ? std::string(".") : path.substr(start);
#ifdef __linux__
    // No link anywhere on the way: the path must lead where it led when listed.
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | kNoAtime);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    long opened = ::syscall(SYS_openat2, rootFd_, relative.c_str(), &how, sizeof how);
    if (opened < 0 && errno == EPERM && kNoAtime != 0) {
        how.flags = static_cast<std::uint64_t>(flags);
        opened = ::syscall(SYS_openat2, rootFd_, relative.c_str(), &how, sizeof how);
    }
    fd = static_cast<int>(opened);
    if (opened >= 0 || errno != ENOSYS)
        return opened >= 0 ? 0 : errno;
#endif
    fd = openNoAtime(rootFd_, relative.c_str(), flags);
    return fd >= 0 ? 0 : errno;
}

struct SourceTree::Walker::Frame {
    int fd;
    std::string path;
    std::vector<std::string> names;
    std::size_t nameBytes = 0;
    std::size_t next = 0;
    ~Frame() { ::close(fd); }
};

SourceTree::Walker::Walker(const SourceTree& tree, int folderFd, const std::string& path, int maxDepth,
                           const WalkLimits& limits, ProblemHandler problem, CutHandler cut)
    : tree_(tree),
      maxDepth_(maxDepth),
      limits_(limits),
      problem_(std::move(problem)),
      cut_(std::move(cut))
{
    push(folderFd, path);
}

SourceTree::Walker::~Walker() = default;

void SourceTree::Walker::push(int fd, const std::string& path)
{
    auto frame = std::make_unique<Frame>();
    frame->fd = fd;
    frame->path = path;
    bool partial = false;
    const std::size_t left = limits_.maxNameBytes > nameBytes_ ? limits_.maxNameBytes - nameBytes_ : 0;
    if (!readNames(fd, frame->names, left, partial)) {
        problem_(path, "cannot list folder: " + errorText(errno));
        frame->names.clear();
    }
    for (const auto& name : frame->names)
        frame->nameBytes += name.size() + sizeof(std::string);
    nameBytes_ += frame->nameBytes;
    if (partial)
        cut_(path, "folder holds too many names; only the first " + std::to_string(frame->names.size()) + " taken");
    stack_.push_back(std::move(frame));
}

bool SourceTree::Walker::next(Node& node)
{
    while (!stack_.empty()) {
        Frame& top = *stack_.back();
        if (top.next == top.names.size()) {
            nameBytes_ -= top.nameBytes;
            stack_.pop_back();
            continue;
        }
        const std::string& name = top.names[top.next++];
        const std::string path = joined(top.path, name);
        if (path.size() > limits_.maxPathBytes) {
            cut_(path.substr(0, limits_.maxPathBytes) + "…",
                 "path longer than " + std::to_string(limits_.maxPathBytes) + " bytes; left out");
            continue;
        }
        if (!tree_.makeNode(top.fd, name, path, node, problem_))
            continue;
        const int depth = static_cast<int>(stack_.size());
        bool deeper = maxDepth_ <= 0 || depth < maxDepth_;
        if (S_ISDIR(node.mode) && deeper && depth >= limits_.maxDepth) {
            cut_(path, "more than " + std::to_string(limits_.maxDepth) + " folder levels; nothing below taken");
            deeper = false;
        }
        if (S_ISDIR(node.mode) && deeper) {
            const int fd = tree_.openFolder(top.fd, name);
            if (fd < 0)
                problem_(path, "cannot open folder: " + errorText(errno));
            else
                push(fd, path); // invalidates top
        }
        return true;
    }
    return false;
}

} // namespace tarnhollow::tool
