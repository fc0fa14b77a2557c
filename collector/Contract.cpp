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

std::string collectorCommandLine(uint32_t userID, uint32_t groupID, const std::filesystem::path& collector,
                                 const std::filesystem::path& outputDir, const std::filesystem::path& progressFile)
{
    return "SUDO_UID=" + std::to_string(userID) + " SUDO_GID=" + std::to_string(groupID) + " " +
           shellQuote(collector.string()) + " -o " + shellQuote(outputDir.string()) + " > " +
           shellQuote(progressFile.string()) + " 2>&1";
}

std::vector<std::string> runnerArguments(const std::string& commandLine)
{
    return {"-e", std::string(runnerScript), commandLine, std::string(passwordPrompt)};
}

} // namespace tarnhollow::contract
