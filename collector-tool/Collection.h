// One collection run: goes through the items (live data first), writes
// each path into the archive as soon as it is found, and streams the
// manifest, the timeline and the log through scratch files, so that memory
// stays flat however large the examined tree is.
#pragma once

#include "collector-tool/Archive.h"
#include "collector-tool/ItemLimits.h"
#include "collector-tool/Items.h"
#include "collector-tool/Sources.h"
#include "platform/digest/Sha256.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarnhollow::tool {

struct RunInfo {
    std::string version;
    std::string host;
    std::string root;        // "/" unless a test points the tool elsewhere
    std::string archivePath; // final name, as text
    struct timespec start {};
    std::vector<std::string> notes; // e.g. about the archive's owner, the system
};

struct RunScratch {
    ScratchFile manifest;
    ScratchFile timeline;
    ScratchFile log;
    int folderFd = -1; // where live output waits before it is archived
};

class Collection {
public:
    Collection(const SourceTree& tree, const std::vector<Item>& items, RunInfo info, RunScratch scratch);
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Collects every item into archive; false only when the archive itself
    // failed (archive.error() says why).
    bool run(Archive& archive);

    std::size_t problemCount() const { return problems_; }

    // The order items are collected in: live commands, then what lives in
    // /proc, then the rest as listed.
    static std::vector<std::size_t> order(const std::vector<Item>& items);

private:
    struct ItemState {
        std::size_t index = 0;
        ItemLimits limits{};
        std::uint64_t bytes = 0;
        std::size_t paths = 0;
        std::size_t alreadyTaken = 0;
        std::size_t cuts = 0;
        std::size_t problems = 0;
        bool full = false;
    };

    void collectItem(std::size_t position, std::size_t index);
    void runCommands(const Item& item);
    bool visit(Node& node);
    void collectFile(Node& node);
    void collectListing(const Item& item, Node& node);
    // Copies what the scratch file holds into a generated entry.
    void addGenerated(const std::string& name, ScratchFile& file, std::string* sha);

    void record(const Node& node, const std::string& kind, std::uint64_t size, const std::string& sha,
                const std::string& entry, const std::string& note);
    void problem(const std::string& path, const std::string& reason);
    void cut(const std::string& path, const std::string& what);
    void log(const std::string& line);
    std::string memberName(const Node& node, bool folder) const;
    bool archiveOk();

    const SourceTree& tree_;
    const std::vector<Item>& items_;
    RunInfo info_;
    RunScratch scratch_;
    Archive* archive_ = nullptr;
    ItemState state_;
    std::uint64_t runBytes_ = 0;
    std::uint64_t entries_ = 0;
    std::size_t problems_ = 0;
    std::size_t printed_ = 0;
    bool runFull_ = false;
    std::unordered_set<std::uint64_t> seen_; // paths already taken, by a hash no one can aim at
    Sha256 hash_;
    std::vector<char> buffer_;
};

} // namespace tarnhollow::tool
