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
    struct timespec mtime { };
    dev_t rdev = 0;
    std::string linkTarget; // for symbolic links
};

// Called for a path that exists but could not be examined.
using ProblemHandler = std::function<void(const std::string& path, const std::string& reason)>;

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
    void expand(const std::string& pattern, int maxDepth, const std::function<void(Node&)>& visit,
        const ProblemHandler& problem) const;
    // Opens a regular file for reading without changing it: returns the file
    // descriptor or -errno.
    int openFile(const std::string& path) const;
    // A walk below the folder at path (listed earlier), or none with the
    // reason given to problem.
    std::unique_ptr<Walker> walk(const std::string& path, int maxDepth, const ProblemHandler& problem) const;

private:
    bool makeNode(int dirFd, const std::string& name, const std::string& path, Node& node,
        const ProblemHandler& problem) const;
    int openFolder(int dirFd, const std::string& name) const;
    int openBelowRoot(const std::string& path, int flags) const;
    void match(int dirFd, const std::string& prefix, const std::vector<std::string>& parts, std::size_t index,
        int maxDepth, const std::function<void(Node&)>& visit, const ProblemHandler& problem) const;

    int rootFd_ = -1;
    std::vector<std::pair<dev_t, ino_t>> excluded_;
};

// Depth-first walk below one folder that hands out one path at a time, so
// that a listing of a huge folder never has to be held whole.
class SourceTree::Walker {
public:
    // Takes ownership of folderFd; path is the folder's own path.
    Walker(
        const SourceTree& tree, int folderFd, const std::string& path, int maxDepth, ProblemHandler problem);
    ~Walker();
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    bool next(Node& node);

private:
    struct Frame;
    void push(int fd, const std::string& path);

    const SourceTree& tree_;
    int maxDepth_;
    ProblemHandler problem_;
    std::vector<std::unique_ptr<Frame>> stack_;
};

const char* typeName(mode_t mode);

} // namespace tarnhollow::tool
