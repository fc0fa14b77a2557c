// The copy of the runner that the Debian package installed, root's alone.
// Its polkit action (org.tarnhollow.collect) names it, so pkexec runs it as
// root with the dialog saying that Tarnhollow asks and why. Under that
// action it takes no shell line: fixed arguments only, and it runs nothing
// but the installed collector.
#pragma once

#include <string>

namespace tarnhollow::elevate {

inline constexpr const char* installedRunner = "/opt/tarnhollow/Tarnhollow.app/Contents/Helpers/elevate";
inline constexpr const char* installedCollector = "/opt/tarnhollow/Tarnhollow.app/Contents/MacOS/tarnhollow";
// The first of the fixed arguments: --collect <output folder> <its pin> <progress file>.
inline constexpr const char* collectVerb = "--collect";

// True when this process is the installed runner, and it and every folder
// above it belong to root and no one else may change them.
bool isInstalledRunner();

// As root under pkexec: checks the progress file and the output folder as
// the user in PKEXEC_UID would need them to be, then runs the installed
// collector for that user. Its exit status, or 1.
int collectForPkexecUser(const std::string& outputFolder, const std::string& pin, const std::string& progressFile);

} // namespace tarnhollow::elevate
