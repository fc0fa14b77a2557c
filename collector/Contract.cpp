#include "collector/Contract.h"

namespace tarnhollow::contract {

std::string shellQuote(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''"; // close, an escaped quote, reopen
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

namespace {

// The system's own SHA-256 tool, by its full path; both print "<hex>  -".
#ifdef __APPLE__
constexpr std::string_view hashTool = "/usr/bin/shasum -a 256";
#else
constexpr std::string_view hashTool = "/usr/bin/sha256sum";
#endif

// Runs as root, with $1 the hash, $2 the collector, $3 the output folder,
// $4 and $5 the progress file's folder and name, $6 and $7 the user's ids,
// $8 and $9 the two messages. Every program is named by its full path.
// - The progress file is opened from inside its folder, after checking that
//   the folder is the user's and no one else can write into it, and that
//   the file is the user's regular file: a link or a swap by another user
//   never steers root's write.
// - The collector is copied with -R so that a FIFO or a link in its place is
//   copied as what it is, never read or followed; only a regular file whose
//   hash matches runs.
std::string rootScript()
{
    return "umask 077; "
           "cd -P -- \"$4\" 2>/dev/null && "
           "[ -n \"$(/usr/bin/find . -prune -type d -user \"$6\" ! -perm -020 ! -perm -002)\" ] && "
           "[ -n \"$(/usr/bin/find \"./$5\" -prune -type f -user \"$6\" -links 1)\" ] && "
           "exec 3>\"./$5\" || { printf '%s\\n' \"$9\" >&2; exit 1; }; "
           "cd / && t=$(/usr/bin/mktemp -d /tmp/tarnhollow.XXXXXXXX) || { printf '%s\\n' \"$8\" >&3; exit 1; }; "
           "/bin/cp -R -- \"$2\" \"$t/tarnhollow\" 2>/dev/null && "
           "[ -f \"$t/tarnhollow\" ] && [ ! -L \"$t/tarnhollow\" ] && "
           "h=$(" +
           std::string(hashTool) +
           " < \"$t/tarnhollow\") && [ \"${h%% *}\" = \"$1\" ] && "
           "/bin/chmod 0700 \"$t/tarnhollow\" || { /bin/rm -rf -- \"$t\"; printf '%s\\n' \"$8\" >&3; exit 1; }; "
           "SUDO_UID=$6 SUDO_GID=$7 \"$t/tarnhollow\" -o \"$3\" >&3 2>&3 3>&-; "
           "s=$?; /bin/rm -rf -- \"$t\"; exit $s";
}

} // namespace

std::string collectorCommandLine(const CollectorRun& run)
{
    std::string line = "set --";
    for (const std::string& value :
         {run.collectorSha256, run.collector.string(), run.outputDir.string(), run.progressFile.parent_path().string(),
          run.progressFile.filename().string(), std::to_string(run.userID), std::to_string(run.groupID),
          std::string(collectorChanged), std::string(progressFileUnsafe)})
        line += " " + shellQuote(value);
    return line + "; " + rootScript();
}

std::vector<std::string> runnerArguments(const std::string& commandLine)
{
    return {"-e", std::string(runnerScript), commandLine, std::string(passwordPrompt)};
}

} // namespace tarnhollow::contract
