#include "collector-tool/Manifest.h"

#include "collector-tool/Text.h"

namespace tarnhollow::tool {

namespace {

std::string birth(const Node& node) { return node.hasBirthtime ? isoUtc(node.birthtime) : std::string("-"); }

} // namespace

const char* const kManifestHeader =
    "path\ttype\tsize\tmtime\tatime\tctime\tbirthtime\tinode\tmode\tuid\tgid\tsha256\tentry\tnote\n";
const char* const kListingHeader =
    "path\ttype\tsize\tmtime\tmode\tuid\tgid\tlink target\tinode\tatime\tctime\tbirthtime\n";

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
