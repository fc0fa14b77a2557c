#include "collector-tool/Items.h"

namespace tarnhollow::tool {

// /etc, /var and /tmp are links into /private here; the real folders are named.
const std::vector<Item>& collectionItems()
{
    static const std::vector<Item> items = {
        { "System version",
            { "/System/Library/CoreServices/SystemVersion.plist",
                "/Library/Preferences/SystemConfiguration/preferences.plist",
                "/Library/Preferences/.GlobalPreferences.plist", "/private/etc/localtime" } },
        { "Users",
            { "/private/var/db/dslocal/nodes/Default/users",
                "/private/var/db/dslocal/nodes/Default/groups" } },
        { "Hosts and sudoers", { "/private/etc/hosts", "/private/etc/sudoers", "/private/etc/sudoers.d" } },
        { "System logs", { "/private/var/log", "/Library/Logs" } },
        { "Launch agents and daemons",
            { "/Library/LaunchAgents", "/Library/LaunchDaemons", "/System/Library/LaunchAgents",
                "/System/Library/LaunchDaemons", "/Users/*/Library/LaunchAgents",
                "/private/var/root/Library/LaunchAgents" } },
        { "Login items",
            { "/Users/*/Library/Application Support/com.apple.backgroundtaskmanagementagent",
                "/private/var/db/com.apple.backgroundtaskmanagement", "/Library/StartupItems" } },
        { "Shell histories and sessions",
            { "/Users/*/.*history", "/Users/*/.zsh_sessions", "/private/var/root/.*history",
                "/private/var/root/.zsh_sessions" } },
        { "Shell startup files",
            { "/private/etc/profile", "/private/etc/zshrc", "/private/etc/zprofile", "/private/etc/bashrc",
                "/Users/*/{.profile,.bashrc,.bash_profile,.zshrc,.zprofile,.zshenv,.zlogin}" } },
        { "SSH files", { "/private/etc/ssh", "/Users/*/.ssh", "/private/var/root/.ssh" } },
        { "Cron jobs", { "/private/var/at/tabs", "/usr/lib/cron/tabs", "/private/etc/periodic" } },
        { "Install history", { "/Library/Receipts/InstallHistory.plist", "/private/var/db/receipts" } },
        { "Quarantine events",
            { "/Users/*/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV*" } },
        { "Browser histories",
            { "/Users/*/Library/Safari/{History.db,History.db-wal,History.db-shm,Downloads.plist}",
                "/Users/*/Library/Application Support/Google/Chrome/*/{History,History-journal}",
                "/Users/*/Library/Application "
                "Support/Firefox/Profiles/*/{places.sqlite,places.sqlite-wal}" } },
        { "Installed applications (metadata only)", { "/Applications", "/Users/*/Applications" }, true, 3 },
        { "Temporary folders (metadata only)", { "/private/tmp", "/private/var/tmp" }, true },
    };
    return items;
}

} // namespace tarnhollow::tool
