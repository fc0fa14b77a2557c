// One collection run: lists every item's sources, hands them to the archive
// and writes the manifest and the collection log into it. The content of
// each file is read, hashed and compressed in one pass while the archive is
// written, and each item's progress line appears when its reading starts.
#pragma once

#include "collector-tool/Archive.h"
#include "collector-tool/Items.h"
#include "collector-tool/Sources.h"

#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarnhollow::tool {

struct RunInfo {
    std::string version;
    std::string host;
    std::string root; // "/" unless a test points the tool elsewhere
    std::string archivePath; // final name, as text
    struct timespec start { };
    std::vector<std::string> notes; // e.g. about the archive's owner
};

class Collection {
public:
    Collection(const SourceTree& tree, const std::vector<Item>& items, RunInfo info);
    ~Collection();
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Adds every entry to the archive; nothing is read yet.
    bool gather(Archive& archive, ArchiveError& error);

    std::size_t problemCount() const { return problems_.size(); }

private:
    enum class Kind { File, Folder, Link, Special, Listing, Manifest, Log };
    struct Entry {
        Kind kind;
        int item;
        Node node;
        int listingDepth = 0;
        std::uint64_t archivedSize = 0;
        std::string sha256;
        std::string note;
    };
    struct ItemReport {
        std::size_t paths = 0;
        std::size_t alreadyTaken = 0;
        std::vector<std::string> missing;
    };
    class Stream;

    void list(int itemIndex, const Item& item);
    void addNode(int itemIndex, Node& node);
    void problem(const std::string& path, const std::string& reason, bool print = true);
    void announce(int itemIndex);
    std::string entryName(const Entry& entry) const;
    std::string manifestRow(const Entry& entry) const;
    std::string logText() const;

    const SourceTree& tree_;
    const std::vector<Item>& items_;
    RunInfo info_;
    std::vector<Entry> entries_;
    std::vector<ItemReport> reports_;
    // Each entry's stream must stay put while the archive refers to it.
    std::deque<std::unique_ptr<Stream>> streams_;
    std::vector<std::string> problems_;
    std::unordered_set<std::string> seen_; // paths already taken by an item
    int announced_ = 0;
    std::size_t printed_ = 0;
    std::string manifestSha_;
};

} // namespace tarnhollow::tool
