// Where the records go, and what happens when the output cannot take more:
// at the file size limit the archive is closed and the run goes on in the
// next one; on a full medium the archive ends after its last complete entry.
#include "collector-tool/Collection.h"

#include "collector-tool/Text.h"

#include <cerrno>

namespace tarnhollow::tool {

namespace {

bool mediumFull(int error)
{
#ifdef EDQUOT
    if (error == EDQUOT)
        return true;
#endif
    return error == ENOSPC;
}

} // namespace

const char* const kLimitedNote =
    "このアーカイブは、Tarnhollow にフルディスクアクセスが許可されていない状態で収集されました。\n"
    "保護された場所（プライバシーのデータベース、ユーザーのメールやメッセージ、Safari の履歴など）は"
    "含まれていない可能性があります。漏れたものは collection.log に記録されています。\n"
    "完全な収集には、システム設定の「プライバシーとセキュリティ」で「フルディスクアクセス」を許可してから、"
    "もう一度収集してください。\n";

bool Collection::archiveOk() { return archive().error() == 0; }

bool Collection::writable() { return stop_ == Outcome::complete; }

void Collection::record(const Record& rec)
{
    settle();
    const auto before = before_.find(rec.node.path);
    if (before != before_.end() && before->second.dev == rec.node.dev && before->second.ino == rec.node.ino) {
        Record earlier = rec; // as it was before a live command read it
        earlier.node.atime = before->second.atime;
        return writeRows(earlier);
    }
    writeRows(rec);
}

void Collection::writeRows(const Record& rec)
{
    files_.part().manifest.append(manifestRow(rec));
    if (rec.kind != "cut")
        files_.part().timeline.append(bodyLine(rec.node, rec.name));
}

// The first error of the archive or of a scratch file that holds its rows.
int Collection::writeError()
{
    Part& part = files_.part();
    for (int error : {part.archive->error(), part.manifest.error(), part.timeline.error(), log_.file().error()})
        if (error != 0)
            return error;
    return 0;
}

void Collection::stopOn(int error)
{
    if (stop_ != Outcome::complete)
        return;
    stop_ = mediumFull(error) ? Outcome::mediumFull : Outcome::failed;
    error_ = error;
}

// Runs write (one entry of path and its record). At the file size limit
// the archive so far is closed and the entry written again into the next
// one; an entry that does not fit even alone is left out.
void Collection::attempt(const std::string& path, const std::function<void()>& write)
{
    Part& part = files_.part();
    const std::uint64_t pending =
        part.archive->directoryBytes() + part.manifest.size() + part.timeline.size() + log_.file().size();
    if (const int error = files_.keepRoom(pending))
        return stopOn(error);
    write();
    int error = writeError();
    if (error == EFBIG && archive().entries() > 0) {
        if (!rollOver()) {
            stop_ = Outcome::failed;
            error_ = error_ != 0 ? error_ : EFBIG;
            return;
        }
        write();
        error = writeError();
    }
    if (error == EFBIG && archive().rollback()) {
        problem(path, "larger than one archive may be on the output medium; left out");
        return;
    }
    if (error != 0)
        stopOn(error);
}

bool Collection::rollOver()
{
    if (!archive().rollback())
        return false;
    log_.line("   archive " + std::to_string(files_.partNumber()) +
              " ends at the output's file size limit; the collection goes on in the next archive");
    if (!finishPart("-part" + std::to_string(files_.partNumber()), true))
        return false;
    files_.part().manifest.append(kManifestHeader);
    // Each archive stands alone: no row points into an earlier one.
    linked_.clear();
    contents_.clear();
    addTopNote();
    return true;
}

// The first entry of each archive, where an examiner looks first.
void Collection::addTopNote()
{
    if (info_.topNote.empty())
        return;
    archive().begin("LIMITED.txt", {wallClockNow().tv_sec, S_IFREG | 0644, true, info_.topNote.size()});
    archive().write(info_.topNote.data(), info_.topNote.size());
    archive().end();
}

void Collection::addGenerated(const std::string& name, ScratchFile& file, std::string* sha)
{
    archive().begin(name, {wallClockNow().tv_sec, S_IFREG | 0644, true, file.size()});
    hash_.reset();
    if (!file.rewind()) {
        archive().fail(file.error());
        return;
    }
    for (long n; (n = file.read(buffer_.data(), buffer_.size())) > 0;) {
        archive().write(buffer_.data(), static_cast<std::size_t>(n));
        hash_.update(buffer_.data(), static_cast<std::size_t>(n));
    }
    archive().end();
    if (sha != nullptr)
        *sha = hash_.finishHex();
}

// Closes the current archive with its manifest, timeline and the log so
// far, and names it.
bool Collection::finishPart(const std::string& suffix, bool more)
{
    Part& part = files_.part();
    // The room kept for exactly this: the closing records.
    files_.releaseRoom();
    part.archive->setReserve(0);
    std::string manifestSha;
    std::string timelineSha;
    addGenerated("manifest.tsv", part.manifest, &manifestSha);
    addGenerated("timeline.body", part.timeline, &timelineSha);
    log_.line("");
    log_.line("archive " + std::to_string(files_.partNumber()) + ": " + std::to_string(part.archive->entries()) +
              " entries; paths recorded in the run: " + std::to_string(entries_) +
              ", content bytes: " + std::to_string(runBytes_) + ", problems: " + std::to_string(log_.problems()));
    log_.line("manifest sha256: " + manifestSha);
    log_.line("timeline sha256: " + timelineSha);
    log_.line("finished: " + isoUtc(wallClockNow()));
    addGenerated("collection.log", log_.file(), nullptr);
    if (writeError() != 0 || !part.archive->close()) {
        error_ = writeError() != 0 ? writeError() : EIO;
        return false;
    }
    if (const int error = files_.finish(suffix, more)) {
        error_ = error;
        return false;
    }
    log_.line("archive " + std::to_string(files_.published().size()) +
              " written: " + escapeName(files_.published().back().name));
    return true;
}

Outcome Collection::close()
{
    settle();
    if (stop_ == Outcome::failed)
        return stop_;
    std::string suffix = files_.partNumber() > 1 ? "-part" + std::to_string(files_.partNumber()) : "";
    if (stop_ == Outcome::mediumFull) {
        Part& part = files_.part();
        for (ScratchFile* file : {&part.manifest, &part.timeline, &log_.file()})
            file->clearError();
        if (!archive().rollback()) {
            error_ = archive().error();
            return Outcome::failed;
        }
        log_.line("");
        log_.line("stopped: the output medium is full (" + errorText(error_) +
                  "); this archive holds what was collected up to its last complete entry");
        suffix += "-incomplete";
    }
    writeLine(1, "Writing the manifest, the timeline and the log");
    if (!finishPart(suffix, false))
        return Outcome::failed;
    return stop_;
}

} // namespace tarnhollow::tool
