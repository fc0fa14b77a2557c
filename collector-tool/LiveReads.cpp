#include "collector-tool/LiveReads.h"

#include <map>

namespace tarnhollow::tool {

namespace {

const std::map<std::string, std::vector<std::string>>& knownReads()
{
    static const std::vector<std::string> units = {"/etc/systemd",
                                                   "/run/systemd/system",
                                                   "/run/systemd/generator",
                                                   "/usr/lib/systemd/system",
                                                   "/usr/lib/systemd/user",
                                                   "/lib/systemd/system",
                                                   "/etc/init.d"};
    static const std::map<std::string, std::vector<std::string>> reads = {
        {"who", {"/run/utmp", "/var/run/utmpx"}},
        {"last", {"/var/log/wtmp*", "/var/log/btmp*", "/run/utmp", "/var/run/utmpx"}},
        {"systemctl-units", units},
        {"systemctl-unit-files", units},
        {"systemctl-timers", units},
        {"launchctl-list", {"/Library/LaunchDaemons", "/System/Library/LaunchDaemons"}},
        {"launchctl-disabled", {"/private/var/db/com.apple.xpc.launchd"}},
    };
    return reads;
}

} // namespace

std::vector<std::string> liveReads(const LiveCommand& command)
{
    std::vector<std::string> patterns;
    if (const auto known = knownReads().find(command.name); known != knownReads().end())
        patterns = known->second;
    for (std::size_t i = 1; i < command.argv.size(); ++i)
        if (command.argv[i].starts_with('/'))
            patterns.push_back(command.argv[i]);
    return patterns;
}

} // namespace tarnhollow::tool
