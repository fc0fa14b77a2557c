// What the application hands the elevation runner and, through it, the
// collector tool. The Mac's runner and ours on Linux take the same four
// arguments, so both builds share every byte defined here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhollow::contract {

// The script the runner executes: argv item 1 is the collector command line,
// item 2 the password prompt. Three lines, no final line feed.
inline constexpr std::string_view runnerScript =
    "on run argv\n"
    "\tdo shell script (item 1 of argv) with prompt (item 2 of argv) with administrator privileges\n"
    "end run";

inline constexpr std::string_view passwordPrompt =
    "Tarnhollow がこの Mac からフォレンジック調査用のアーティファクトを収集するため、管理者権限を求めています。";

// The runner writes this into its error output when the user dismisses the
// password dialog.
inline constexpr std::string_view cancelledMarker = "(-128)";

// The Linux runner's last line when no authentication agent runs, so that
// no password dialog can be shown.
inline constexpr std::string_view noPasswordDialog =
    "管理者パスワードを入力する画面を表示できないため、収集を開始できませんでした";

// Where the collector lies inside the bundle.
inline constexpr std::string_view collectorInBundle = "Contents/MacOS/tarnhollow";

// Wraps text in single quotes for /bin/sh; the only character that needs
// care inside them is the single quote itself.
std::string shellQuote(std::string_view text);

// A folder as the app saw it when it started: its path with every link
// resolved, and which folder that was. Root reaches the path without
// following any link and writes only when it finds the same folder.
struct FolderPin {
    std::filesystem::path path;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FolderPin&) const = default;
};

// The collector reads the output folder's pin from this variable, as
// "<device>:<inode>"; without it the folder is taken as named.
inline constexpr std::string_view outputPinVariable = "TARNHOLLOW_OUTPUT_PIN";
std::string pinText(const FolderPin& pin);
// The device and inode of a pin's text; nothing unless it is exactly that.
std::optional<std::pair<uint64_t, uint64_t>> parsePinText(std::string_view text);

// What root runs, and into which file its output goes.
struct CollectorRun {
    uint32_t userID = 0;
    uint32_t groupID = 0;
    std::filesystem::path collector; // in the bundle, where any user may have swapped it
    std::string collectorSha256;     // lower-case hex, taken when the app started
    FolderPin output;
    std::filesystem::path progressFile; // in a 0700 folder of the user's own
    bool operator==(const CollectorRun&) const = default;
};

// Why root stopped before the collector ran. Each is written into the
// progress file, so that the app shows it as the run's last line.
inline constexpr std::string_view collectorChanged = "収集ツールが開始後に変更されたため、実行を中止しました";
inline constexpr std::string_view temporaryFolderFull = "一時フォルダーに空きがないため、実行を中止しました";
inline constexpr std::string_view collectorNotCopied =
    "収集ツールを一時フォルダーにコピーできなかったため、実行を中止しました";
inline constexpr std::string_view collectorNotHashed = "収集ツールのハッシュを計算できなかったため、実行を中止しました";
inline constexpr std::string_view noRunnableTemporaryFolder =
    "プログラムを実行できる一時フォルダーがないため、実行を中止しました";
// Written by the collector when the output folder is not the pinned one.
inline constexpr std::string_view outputFolderChanged = "保存先フォルダーが開始後に変更されたため、実行を中止しました";
// Shown when the progress file is not the user's own regular file in the
// user's own private folder; it goes to the runner's error output, since
// the file is not safe to write.
inline constexpr std::string_view progressFileUnsafe = "進捗ファイルが安全な場所にないため、実行を中止しました";

// The shell command that runs the collector as root. The data comes first,
// quoted, as positional parameters; the fixed script after it copies the
// collector into a folder only root can write, on a file system that runs
// programs, runs the copy only when its SHA-256 is the pinned one, with the
// user's identity in SUDO_UID/SUDO_GID, the output folder's pin, and "-o"
// and the output folder, and sends both output streams into the progress
// file, but only after checking that it is the user's regular file in the
// user's private folder.
std::string collectorCommandLine(const CollectorRun& run);

// The run a command line was built from; nothing for any other text. The
// installed runner takes its fixed arguments from it, never a shell line.
std::optional<CollectorRun> parseCollectorCommandLine(std::string_view commandLine);

// The runner's four arguments, in order.
std::vector<std::string> runnerArguments(const std::string& commandLine);

} // namespace tarnhollow::contract
