// What the application hands the elevation runner and, through it, the
// collector tool. The Mac's runner and ours on Linux take the same four
// arguments, so both builds share every byte defined here.
#pragma once

#include <cstdint>
#include <filesystem>
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

// Where the collector lies inside the bundle.
inline constexpr std::string_view collectorInBundle = "Contents/MacOS/tarnhollow";

// Wraps text in single quotes for /bin/sh; the only character that needs
// care inside them is the single quote itself.
std::string shellQuote(std::string_view text);

// What root runs, and into which file its output goes.
struct CollectorRun {
    uint32_t userID = 0;
    uint32_t groupID = 0;
    std::filesystem::path collector; // in the bundle, where any user may have swapped it
    std::string collectorSha256;     // lower-case hex, taken before the password is asked
    std::filesystem::path outputDir;
    std::filesystem::path progressFile; // in a 0700 folder of the user's own
};

// Shown when the program found in the bundle is not the one that was hashed.
inline constexpr std::string_view collectorChanged = "収集ツールが開始後に変更されたため、実行を中止しました";
// Shown when the progress file is not the user's own regular file in the
// user's own private folder.
inline constexpr std::string_view progressFileUnsafe = "進捗ファイルが安全な場所にないため、実行を中止しました";

// The shell command that runs the collector as root. The data comes first,
// quoted, as positional parameters; the fixed script after it copies the
// collector into a folder only root can write, runs the copy only when its
// SHA-256 is the one taken before, with the user's identity in
// SUDO_UID/SUDO_GID and "-o" and the output folder, and sends both output
// streams into the progress file, but only after checking that it is the
// user's regular file in the user's private folder.
std::string collectorCommandLine(const CollectorRun& run);

// The runner's four arguments, in order.
std::vector<std::string> runnerArguments(const std::string& commandLine);

} // namespace tarnhollow::contract
