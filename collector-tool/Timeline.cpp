#include "collector-tool/Timeline.h"

#include "collector-tool/Text.h"

#include <sys/stat.h>

namespace tarnhollow::tool {

namespace {

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

} // namespace tarnhollow::tool
