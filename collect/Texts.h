// Every text the application shows, exactly as the user sees it.
// "…" is U+2026; colons are ASCII followed by one space.
#pragma once

#include <string_view>

namespace tarnhollow::texts {

// The texts that name the computer or its file manager: each system's face
// has its own, and the platform hands its face's in (System::words).
struct PlatformWords {
    std::string_view readyHeadline; // the ready screen's, when no message is given
    std::string_view revealButton;  // the done screen's button
};
inline constexpr PlatformWords macWords{"この Mac からフォレンジック調査用のアーティファクトを収集します",
                                        "Finder で表示"};
inline constexpr PlatformWords linuxWords{"このコンピューターからフォレンジック調査用のアーティファクトを収集します",
                                          "ファイルマネージャーで表示"};

inline constexpr std::string_view windowTitle = "Tarnhollow";
inline constexpr std::string_view quitItem = "Tarnhollow を終了";

inline constexpr std::string_view readyDetailIntro = "開始すると管理者パスワードを求めます。";
inline constexpr std::string_view savedTo = "保存先: ";
inline constexpr std::string_view startButton = "収集を開始";
inline constexpr std::string_view cancelled = "キャンセルしました";

inline constexpr std::string_view askingPassword = "管理者パスワードを入力してください…";
inline constexpr std::string_view runningButton = "収集中…";
inline constexpr std::string_view preparing = "収集を準備しています…";
inline constexpr std::string_view collectingPrefix = "収集中… ";
inline constexpr std::string_view countSeparator = " / ";

inline constexpr std::string_view doneHeadline = "収集が完了しました";

inline constexpr std::string_view failedHeadline = "収集に失敗しました";
inline constexpr std::string_view logHint = "ログがあれば保存先を確認してください: ";
inline constexpr std::string_view openFolderButton = "保存先を開く";
inline constexpr std::string_view launchFailed = "収集を開始できませんでした: ";
// What follows launchFailed when the run cannot even be prepared.
inline constexpr std::string_view collectorUnreadable = "アプリ内の収集ツールを読み取れません";
inline constexpr std::string_view outputFolderUnavailable = "保存先フォルダーが見つかりません";
inline constexpr std::string_view progressFileUnavailable = "一時フォルダーに進捗ファイルを作成できません";

} // namespace tarnhollow::texts
