#include "collector-tool/Failures.h"

#include "collector-tool/Text.h"

#include <cerrno>

namespace tarnhollow::tool {

namespace {

const char* const kNotSaved = "アーカイブを保存できませんでした。";

std::string refused(const std::string& folder)
{
    std::string sentence = "出力先フォルダー" + quoted(folder) + "に書き込めないため、" + kNotSaved;
#ifdef __APPLE__
    // Folders of the user's own (Desktop, Documents, removable volumes) are
    // closed to root too until the application has Full Disk Access.
    sentence += "システム設定の「プライバシーとセキュリティ」で Tarnhollow に「フルディスクアクセス」を許可してから、"
                "もう一度お試しください。";
#endif
    return sentence;
}

} // namespace

std::string quoted(const std::string& path) { return "「" + unsteerable(escapeName(path)) + "」"; }

std::string writeFailure(int error, const std::string& folder)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return refused(folder);
    case EROFS:
        return "出力先フォルダー" + quoted(folder) + "は読み取り専用の場所にあるため、" + kNotSaved +
               "アプリを書き込める USB メモリなどに先にコピーしてから実行してください。";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "出力先" + quoted(folder) + "のディスクがいっぱいになったため、" + kNotSaved;
    case EFBIG:
        return "アーカイブが出力先" + quoted(folder) + "のファイルシステムで扱えるファイルの大きさを超えたため、" +
               kNotSaved;
    case ENOENT:
    case ENOTDIR:
        return "出力先フォルダー" + quoted(folder) + "が見つからないため、" + kNotSaved;
    default:
        return "出力先" + quoted(folder) + "への書き込みに失敗したため、アーカイブを保存できませんでした（" +
               unsteerable(escapeName(errorText(error))) + "）。";
    }
}

std::string openFailure(int error, const std::string& folder)
{
    if (error == EACCES || error == EPERM)
        return refused(folder);
    return "出力先フォルダー" + quoted(folder) + "が見つからないため、収集を始められません。";
}

std::string fullMediumSentence(const std::string& folder, const std::string& kept)
{
    return "出力先" + quoted(folder) +
           "のディスクがいっぱいになったため、収集を途中で止めました。そこまでに集めた分は" + quoted(kept) +
           "に残しました。";
}

} // namespace tarnhollow::tool
