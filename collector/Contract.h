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

// The shell command that runs the collector as root: the user's identity in
// SUDO_UID/SUDO_GID, "-o" and the output folder, and both output streams
// redirected into the progress file.
std::string collectorCommandLine(uint32_t userID, uint32_t groupID, const std::filesystem::path& collector,
                                 const std::filesystem::path& outputDir, const std::filesystem::path& progressFile);

// The runner's four arguments, in order.
std::vector<std::string> runnerArguments(const std::string& commandLine);

} // namespace tarnhollow::contract
