// One collection run, as a pipeline: the items are walked (live data
// first); each path found is opened and becomes one record; the record
// goes to the sinks: the archive entry, the manifest row, the timeline
// line and, for problems, the log. Everything streams through files, so
// that memory stays flat however large the examined tree is.
#pragma once

#include "collector-tool/ArchiveFiles.h"
#include "collector-tool/ItemLimits.h"
#include "collector-tool/Items.h"
#include "collector-tool/Manifest.h"
#include "collector-tool/Record.h"
#include "collector-tool/RunLog.h"
#include "collector-tool/Sources.h"
#include "collector-tool/Timeline.h"
#include "collector-tool/deflate/Block.h"
#include "platform/digest/Sha256.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tarnhollow::tool {

struct RunInfo {
    std::string version;
    std::string host;
    std::string root;   // "/" unless a test points the tool elsewhere
    std::string folder; // the output folder, as text
    struct timespec start {};
    std::vector<std::string> notes; // e.g. about the archive's owner, the system
    std::string topNote;            // LIMITED.txt, each archive's first entry, when not empty
};

// Why an archive is named "-limited".
extern const char* const kLimitedNote;

// How a run ended.
enum class Outcome { complete, mediumFull, failed };

class Collection {
public:
    Collection(const SourceTree& tree, const std::vector<Item>& items, RunInfo info, ArchiveFiles& files,
               ScratchFile log);
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    // Collects every item; the archives it leaves are files.published().
    Outcome run();
    // The errno behind a failed run.
    int error() const { return error_; }
    std::size_t problemCount() const { return log_.problems(); }

    // The order items are collected in: live commands, then what lives in
    // /proc, then the rest as listed.
    static std::vector<std::size_t> order(const std::vector<Item>& items);

    // Called between listing a file and opening it; tests swap files there.
    static std::function<void(const std::string& path)> beforeOpen;

private:
    struct ItemState {
        std::size_t index = 0;
        ItemLimits limits{};
        bool userArea = false;
        std::uint64_t bytes = 0;
        std::size_t paths = 0;
        std::size_t alreadyTaken = 0;
        std::size_t cuts = 0;
        std::size_t problems = 0;
        bool full = false;
    };
    // A file archived once, for the later names of the same inode.
    struct Taken {
        std::string entry;
        std::string sha;
        std::uint64_t size = 0;
        std::string path;
    };
    struct Budget {
        std::uint64_t cap;
        std::string reason;
    };
    // A small file read whole and handed to the deflate workers, waiting
    // for its turn to be laid down.
    struct Ahead {
        Record rec;
        std::shared_ptr<Block> block;
        int readError = 0;
    };

    // Collection.cpp: the run and its items.
    void writeHeader();
    void takeTimesBefore();
    void collectItem(std::size_t position, std::size_t index);
    void expandPattern(const Item& item, const std::string& pattern, std::vector<std::string>& missing);
    void summarise(const Item& item, const std::vector<std::string>& missing);
    bool visit(Node& node);
    bool underCaps(const Node& node);
    void collectNode(Node& node);
    // Parts.cpp: sinks, archive parts, full media and size limits.
    void attempt(const std::string& path, const std::function<void()>& write);
    bool writable();
    int writeError();
    void stopOn(int error);
    bool rollOver();
    void addTopNote();
    bool finishPart(const std::string& suffix, bool more);
    void addGenerated(const std::string& name, ScratchFile& file, std::string* sha);
    Outcome close();
    void record(const Record& record);
    void writeRows(const Record& record);
    void problem(const std::string& path, const std::string& reason);
    void cut(const std::string& path, const std::string& what);
    bool archiveOk();
    Archive& archive() { return *files_.part().archive; }
    // CollectFile.cpp: regular files.
    void collectFile(const Node& listed);
    bool openListed(const Node& listed, int& fd, Record& rec);
    bool linkedEarlier(Record& rec);
    Budget budgetFor(const Node& node) const;
    bool archiveContent(int fd, Record& rec, const Budget& budget);
    bool archiveOnce(int fd, Record& rec, const Budget& budget);
    void noteContent(int fd, Record& rec, const Budget& budget, std::uint64_t holes, bool more);
    void charge(const Node& node, std::uint64_t bytes);
    // Ahead.cpp: small files deflated while the walk goes on.
    bool readAhead(int fd, Record& rec);
    void landAhead();
    void boundAhead();
    void settle();
    std::string memberName(const std::string& path, bool folder) const;
    // CollectOther.cpp: folders, links, listings, live commands.
    void collectPlain(const Node& node);
    void collectListing(const Item& item, Node& node);
    void runCommands(const Item& item);
    void archiveCommand(const LiveCommand& command, ScratchFile& output, Record& rec);

    const SourceTree& tree_;
    const std::vector<Item>& items_;
    RunInfo info_;
    ArchiveFiles& files_;
    RunLog log_;
    ItemState state_;
    Outcome stop_ = Outcome::complete;
    int error_ = 0;
    std::uint64_t runBytes_ = 0;
    std::uint64_t entries_ = 0;
    bool runFull_ = false;
    // Paths already taken, whole; only those of items that a later item
    // could meet again are kept.
    std::unordered_set<std::string> seen_;
    std::vector<bool> remember_;
    // Contents of files of unknown size (a process's command line) stored
    // once, by their hash.
    std::unordered_map<std::string, Taken> contents_;
    std::map<std::pair<dev_t, ino_t>, Taken> linked_;
    std::map<uid_t, std::uint64_t> accountBytes_;
    // What the live commands read, as it was before they ran.
    struct Before {
        dev_t dev;
        ino_t ino;
        struct timespec atime;
    };
    std::unordered_map<std::string, Before> before_;
    // In walk order; each is laid down, and its rows written, in its turn,
    // before anything else reaches a sink.
    std::deque<Ahead> ahead_;
    std::uint64_t aheadBytes_ = 0;
    bool settling_ = false;
    Sha256 hash_;
    std::vector<char> buffer_;
};

} // namespace tarnhollow::tool
