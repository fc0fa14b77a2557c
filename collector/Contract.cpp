#include "collector/Contract.h"

#include <charconv>

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

std::string pinText(const FolderPin& pin) { return std::to_string(pin.device) + ":" + std::to_string(pin.inode); }

namespace {

std::optional<uint64_t> decimal(std::string_view text)
{
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || (text[0] == '0' && text.size() > 1))
        return std::nullopt;
    return value;
}

// The system's own tools, by their full paths. Both hash tools print
// "<hex>  -". The Mac's cp leaves extended attributes behind with -X: a
// quarantine flag copied from a downloaded kit could stop the copy from
// running; the hash still guards the content.
#ifdef __APPLE__
constexpr std::string_view hashTool = "/usr/bin/shasum -a 256";
constexpr std::string_view copyTool = "/bin/cp -RX";
constexpr std::string_view temporaryFolders = "/tmp /var/tmp";
#else
constexpr std::string_view hashTool = "/usr/bin/sha256sum";
constexpr std::string_view copyTool = "/bin/cp -R";
constexpr std::string_view temporaryFolders = "/tmp /var/tmp /run";
#endif

// Writes a fixed text into the progress file and ends root's shell.
std::string stop(std::string_view text) { return "stop " + shellQuote(text); }

// Runs as root, with $1 the hash, $2 the collector, $3 the output folder,
// $4 and $5 the progress file's folder and name, $6 and $7 the user's ids,
// $8 the output folder's pin. Every program is named by its full path.
// - The progress file is opened from inside its folder, after checking that
//   the folder is the user's and no one else can write into it, and that
//   the file is the user's regular file: a link or a swap by another user
//   never steers root's write.
// - The collector is copied with -R so that a FIFO or a link in its place is
//   copied as what it is, never read or followed; only a regular file whose
//   hash matches runs. A folder whose file system does not run programs
//   (noexec) is passed over for the next.
std::string rootScript()
{
    return "umask 077; "
           "cd -P -- \"$4\" 2>/dev/null && "
           "[ -n \"$(/usr/bin/find . -prune -type d -user \"$6\" ! -perm -020 ! -perm -002)\" ] && "
           "[ -n \"$(/usr/bin/find \"./$5\" -prune -type f -user \"$6\" -links 1)\" ] && "
           "exec 3>\"./$5\" || { printf '%s\\n' " +
           shellQuote(progressFileUnsafe) +
           " >&2; exit 1; }; "
           "cd / || exit 1; t=; "
           "stop() { [ -z \"$t\" ] || /bin/rm -rf -- \"$t\"; printf '%s\\n' \"$1\" >&3; exit 1; }; "
           "for d in " +
           std::string(temporaryFolders) +
           "; do "
           "t=$(/usr/bin/mktemp -d \"$d/tarnhollow.XXXXXXXX\" 2>/dev/null) || { t=; " +
           stop(collectorNotCopied) +
           "; }; "
           "e=$(LC_ALL=C " +
           std::string(copyTool) +
           " -- \"$2\" \"$t/tarnhollow\" 2>&1 >/dev/null) || case $e in "
           "*'No space'*|*'quota'*) " +
           stop(temporaryFolderFull) + ";; *) " + stop(collectorNotCopied) +
           ";; esac; "
           "[ -f \"$t/tarnhollow\" ] && [ ! -L \"$t/tarnhollow\" ] || " +
           stop(collectorChanged) + "; h=$(" + std::string(hashTool) + " < \"$t/tarnhollow\") && [ -n \"$h\" ] || " +
           stop(collectorNotHashed) + "; [ \"${h%% *}\" = \"$1\" ] || " + stop(collectorChanged) +
           "; /bin/chmod 0700 \"$t/tarnhollow\" || " + stop(collectorNotCopied) +
           "; [ -x \"$t/tarnhollow\" ] && break; /bin/rm -rf -- \"$t\"; t=; "
           "done; "
           "[ -n \"$t\" ] || " +
           stop(noRunnableTemporaryFolder) + "; " + std::string(outputPinVariable) +
           "=$8 SUDO_UID=$6 SUDO_GID=$7 \"$t/tarnhollow\" -o \"$3\" >&3 2>&3 3>&-; "
           "s=$?; /bin/rm -rf -- \"$t\"; exit $s";
}

std::vector<std::string> positionalParameters(const CollectorRun& run)
{
    return {run.collectorSha256,
            run.collector.string(),
            run.output.path.string(),
            run.progressFile.parent_path().string(),
            run.progressFile.filename().string(),
            std::to_string(run.userID),
            std::to_string(run.groupID),
            pinText(run.output)};
}

// Undoes shellQuote for the words after "set --", up to "; ".
std::optional<std::vector<std::string>> quotedWords(std::string_view text)
{
    std::vector<std::string> words;
    while (!text.starts_with("; ")) {
        if (!text.starts_with(" '"))
            return std::nullopt;
        text.remove_prefix(2);
        std::string word;
        for (;;) {
            const auto quote = text.find('\'');
            if (quote == std::string_view::npos)
                return std::nullopt;
            word += text.substr(0, quote);
            text.remove_prefix(quote + 1);
            if (!text.starts_with("\\''"))
                break;
            word += '\'';
            text.remove_prefix(3);
        }
        words.push_back(std::move(word));
    }
    return words;
}

} // namespace

std::optional<std::pair<uint64_t, uint64_t>> parsePinText(std::string_view text)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto device = decimal(text.substr(0, colon));
    const auto inode = decimal(text.substr(colon + 1));
    if (!device || !inode)
        return std::nullopt;
    return std::pair{*device, *inode};
}

std::string collectorCommandLine(const CollectorRun& run)
{
    std::string line = "set --";
    for (const std::string& value : positionalParameters(run))
        line += " " + shellQuote(value);
    return line + "; " + rootScript();
}

std::optional<CollectorRun> parseCollectorCommandLine(std::string_view commandLine)
{
    constexpr std::string_view start = "set --";
    if (!commandLine.starts_with(start))
        return std::nullopt;
    const auto words = quotedWords(commandLine.substr(start.size()));
    if (!words || words->size() != 8)
        return std::nullopt;
    const auto& w = *words;
    const auto userID = decimal(w[5]), groupID = decimal(w[6]);
    const auto pin = parsePinText(w[7]);
    if (!userID || !groupID || !pin || *userID > UINT32_MAX || *groupID > UINT32_MAX)
        return std::nullopt;
    CollectorRun run{static_cast<uint32_t>(*userID),  static_cast<uint32_t>(*groupID),   w[1], w[0],
                     {w[2], pin->first, pin->second}, std::filesystem::path(w[3]) / w[4]};
    // Only what this very code builds counts: anything added, left out or
    // spelled another way is refused.
    if (collectorCommandLine(run) != commandLine)
        return std::nullopt;
    return run;
}

std::vector<std::string> runnerArguments(const std::string& commandLine)
{
    return {"-e", std::string(runnerScript), commandLine, std::string(passwordPrompt)};
}

} // namespace tarnhollow::contract
