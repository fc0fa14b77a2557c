// Read-only access to the sources below one root folder ("/" in real runs).
// Nothing here follows a symbolic link: links are reported as links.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnhollow::tool {

// One path as found, with the metadata of the path itself (lstat).
struct Node {
    std::string path; // absolute as on the examined system, raw bytes
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    std::uint64_t size = 0;
    struct timespec mtime {};
    struct timespec atime {};
    struct timespec ctime {};
    struct timespec birthtime {}; // when hasBirthtime
    bool hasBirthtime = false;
    dev_t dev = 0;
    ino_t ino = 0;
    nlink_t nlink = 0;
    std::uint64_t allocated = 0; // bytes the file occupies on disk
    dev_t rdev = 0;
    std::string linkTarget; // for symbolic links
};

// Called for a path that exists but could not be examined.
using ProblemHandler = std::function<void(const std::string& path, const std::string& reason)>;

// How far a walk goes; what lies beyond is cut and reported, never read.
struct WalkLimits {
    int maxDepth = 32; // folder levels below the starting folder
    std::size_t maxPathBytes = 4096;
    // Names of the folders on the way down are held while the walk is in
    // them; a folder with more than this in total is taken in part.
    std::size_t maxNameBytes = 8 << 20;
};
// Called for each cut: the path, and what was left out.
using CutHandler = std::function<void(const std::string& path, const std::string& what)>;

class SourceTree {
public:
    SourceTree() = default;
    ~SourceTree();
    SourceTree(const SourceTree&) = delete;
    SourceTree& operator=(const SourceTree&) = delete;

    class Walker;

    bool open(const std::string& root, std::string& error);
    // A file that is passed over wherever it is met (the tool's own output).
    void exclude(dev_t dev, ino_t ino);

    // Every path matching pattern, in sorted order, each matched folder
    // followed by everything below it (at most maxDepth levels when > 0,
    // nothing below when < 0).
    // Returning false from visit stops the expansion.
    void expand(const std::string& pattern, int maxDepth, const WalkLimits& limits,
                const std::function<bool(Node&)>& visit, const ProblemHandler& problem, const CutHandler& cut) const;
    // Opens a regular file for reading without changing it: 0 or errno.
    int openFile(const std::string& path, int& fd) const;
    // A walk below the folder at path (listed earlier), or none with the
    // reason given to problem.
    std::unique_ptr<Walker> walk(const std::string& path, int maxDepth, const WalkLimits& limits,
                                 const ProblemHandler& problem, const CutHandler& cut) const;

private:
    bool makeNode(int dirFd, const std::string& name, const std::string& path, Node& node,
                  const ProblemHandler& problem) const;
    int openFolder(int dirFd, const std::string& name) const;
    int openBelowRoot(const std::string& path, int flags, int& fd) const;
    bool match(int dirFd, const std::string& prefix, const std::vector<std::string>& parts, std::size_t index,
               int maxDepth, const WalkLimits& limits, const std::function<bool(Node&)>& visit,
               const ProblemHandler& problem, const CutHandler& cut) const;

    int rootFd_ = -1;
    std::vector<std::pair<dev_t, ino_t>> excluded_;
};

// Depth-first walk below one folder that hands out one path at a time, so
// that a listing of a huge folder never has to be held whole.
class SourceTree::Walker {
public:
    // Takes ownership of folderFd; path is the folder's own path.
    // maxDepth: the caller's own depth (0: no limit but the walk limits).
    Walker(const SourceTree& tree, int folderFd, const std::string& path, int maxDepth, const WalkLimits& limits,
           ProblemHandler problem, CutHandler cut);
    ~Walker();
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    bool next(Node& node);

private:
    struct Frame;
    void push(int fd, const std::string& path);

    const SourceTree& tree_;
    int maxDepth_;
    WalkLimits limits_;
    ProblemHandler problem_;
    CutHandler cut_;
    std::size_t nameBytes_ = 0;
    std::vector<std::unique_ptr<Frame>> stack_;
};

const char* typeName(mode_t mode);

// Fills node's metadata (not its path) from a stat result.
void fillFromStat(const struct stat& st, Node& node);
// The birth time, where the system keeps one and tells it (statx flags).
void addBirthtime(int dirFd, const char* name, int flags, Node& node);
// Fills node's metadata (not its path) from an open descriptor: what was
// opened, which may not be what was listed. 0 or the errno.
int statOpened(int fd, Node& node);

} // namespace tarnhollow::tool
