#include "collector-tool/Record.h"

#include "collector-tool/Text.h"

#include <sys/stat.h>

namespace tarnhollow::tool {

namespace {

std::string birth(const Node& node) { return node.hasBirthtime ? isoUtc(node.birthtime) : std::string("-"); }

char typeLetter(unsigned mode)
{
    if (S_ISREG(mode))
        return 'r';
    if (S_ISDIR(mode))
        return 'd';
    if (S_ISLNK(mode))
        return 'l';
    if (S_ISFIFO(mode))
        return 'p';
    if (S_ISSOCK(mode))
        return 's';
    if (S_ISCHR(mode))
        return 'c';
    return S_ISBLK(mode) ? 'b' : '-';
}

} // namespace

const char* const kManifestHeader =
    "path\ttype\tsize\tmtime\tatime\tctime\tbirthtime\tinode\tmode\tuid\tgid\tsha256\tentry\tnote\n";
const char* const kListingHeader =
    "path\ttype\tsize\tmtime\tmode\tuid\tgid\tlink target\tinode\tatime\tctime\tbirthtime\n";

Record recordOf(const Node& node, std::string kind)
{
    Record record;
    record.node = node;
    record.name = escapeName(node.path);
    record.kind = std::move(kind);
    return record;
}

std::string manifestRow(const Record& r)
{
    const Node& node = r.node;
    std::string row = r.name;
    row += '\t' + r.kind;
    row += '\t' + std::to_string(r.size);
    row += '\t' + isoUtc(node.mtime);
    row += '\t' + isoUtc(node.atime);
    row += '\t' + isoUtc(node.ctime);
    row += '\t' + birth(node);
    row += '\t' + std::to_string(node.ino);
    row += '\t' + octal(node.mode & 07777, 4);
    row += '\t' + std::to_string(node.uid);
    row += '\t' + std::to_string(node.gid);
    row += '\t' + r.sha;
    row += '\t' + r.entry;
    row += '\t' + (r.note.empty() ? std::string("-") : escapeName(r.note));
    row += '\n';
    return row;
}

std::string bodyMode(unsigned mode)
{
    const char type = typeLetter(mode);
    std::string text{type, '/', type};
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        text += (mode & (0400u >> i)) ? rwx[i] : '-';
    if (mode & S_ISUID)
        text[5] = (mode & 0100) ? 's' : 'S';
    if (mode & S_ISGID)
        text[8] = (mode & 0010) ? 's' : 'S';
    if (mode & S_ISVTX)
        text[11] = (mode & 0001) ? 't' : 'T';
    return text;
}

std::string bodyLine(const Node& node, const std::string& name)
{
    std::string shown = name;
    if (S_ISLNK(node.mode))
        shown += " -> " + escapeName(node.linkTarget);
    std::string safe; // '|' separates the fields
    for (char c : shown)
        safe += c == '|' ? std::string("%7C") : std::string(1, c);
    return "0|" + safe + "|" + std::to_string(node.ino) + "|" + bodyMode(node.mode) + "|" + std::to_string(node.uid) +
           "|" + std::to_string(node.gid) + "|" + std::to_string(node.size) + "|" + std::to_string(node.atime.tv_sec) +
           "|" + std::to_string(node.mtime.tv_sec) + "|" + std::to_string(node.ctime.tv_sec) + "|" +
           std::to_string(node.hasBirthtime ? node.birthtime.tv_sec : 0) + "\n";
}

std::string listingRow(const Node& node)
{
    std::string row = escapeName(node.path);
    row += '\t';
    row += typeName(node.mode);
    row += '\t' + std::to_string(node.size);
    row += '\t' + isoUtc(node.mtime);
    row += '\t' + octal(node.mode & 07777, 4);
    row += '\t' + std::to_string(node.uid);
    row += '\t' + std::to_string(node.gid);
    row += '\t' + escapeName(node.linkTarget);
    row += '\t' + std::to_string(node.ino);
    row += '\t' + isoUtc(node.atime);
    row += '\t' + isoUtc(node.ctime);
    row += '\t' + birth(node);
    row += '\n';
    return row;
}

} // namespace tarnhollow::tool
