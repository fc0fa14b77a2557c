#include "collector-tool/Items.h"

namespace tarnhollow::tool {

// Ordered so that the narrower items claim their files first: a path that
// an earlier item took is not taken again (the system logs come after the
// authentication logs, the login records and the journal).
const std::vector<Item>& collectionItems()
{
    static const std::vector<Item> items = {
        { "System identity",
            { "/etc/hostname", "/etc/machine-id", "/etc/os-release", "/usr/lib/os-release",
                "/etc/lsb-release", "/etc/debian_version", "/etc/redhat-release", "/etc/timezone",
                "/etc/localtime", "/proc/version", "/proc/cmdline", "/proc/cpuinfo", "/proc/meminfo",
                "/proc/uptime" } },
        { "Users and groups",
            { "/etc/passwd", "/etc/shadow", "/etc/group", "/etc/gshadow", "/etc/subuid", "/etc/subgid",
                "/etc/login.defs" } },
        { "Sudoers", { "/etc/sudoers", "/etc/sudoers.d" } },
        { "Authentication logs", { "/var/log/auth.log*", "/var/log/secure*", "/var/log/faillog" } },
        { "Login records", { "/var/log/wtmp*", "/var/log/btmp*", "/var/log/lastlog", "/run/utmp" } },
        { "Journal", { "/var/log/journal", "/run/log/journal" } },
        { "System logs", { "/var/log" } },
        { "Cron jobs",
            { "/etc/crontab", "/etc/anacrontab", "/etc/cron.d", "/etc/cron.hourly", "/etc/cron.daily",
                "/etc/cron.weekly", "/etc/cron.monthly", "/var/spool/cron", "/var/spool/anacron" } },
        { "Systemd units",
            { "/etc/systemd", "/run/systemd/system", "/usr/lib/systemd/system", "/usr/lib/systemd/user",
                "/root/.config/systemd", "/home/*/.config/systemd", "/etc/init.d", "/etc/rc.local" } },
        { "Shell histories",
            { "/root/.*history", "/home/*/.*history", "/root/.local/share/fish/fish_history",
                "/home/*/.local/share/fish/fish_history" } },
        { "Shell startup files",
            { "/etc/profile", "/etc/profile.d", "/etc/bash.bashrc", "/etc/environment", "/etc/zsh",
                "/root/{.profile,.bashrc,.bash_profile,.bash_login,.bash_logout,.zshrc,.zprofile,.zshenv}",
                "/home/*/"
                "{.profile,.bashrc,.bash_profile,.bash_login,.bash_logout,.zshrc,.zprofile,.zshenv}" } },
        { "SSH files", { "/etc/ssh", "/root/.ssh", "/home/*/.ssh" } },
        { "Network configuration",
            { "/etc/hosts", "/etc/hosts.allow", "/etc/hosts.deny", "/etc/resolv.conf", "/etc/nsswitch.conf",
                "/etc/network", "/etc/netplan", "/etc/NetworkManager", "/etc/iptables", "/etc/nftables.conf",
                "/etc/ufw", "/run/systemd/resolve/resolv.conf" } },
        // /proc/net points into the reading process's own namespace; the first
        // process's view is the system's.
        { "Network state (/proc/net)", { "/proc/1/net" } },
        { "Process list", { "/proc/[0-9]*/{cmdline,comm,status,exe,cwd}" } },
        { "Kernel modules",
            { "/proc/modules", "/proc/sys/kernel/tainted", "/etc/modules", "/etc/modprobe.d",
                "/etc/modules-load.d", "/usr/lib/modules-load.d" } },
        { "Mounts", { "/proc/1/mounts", "/proc/1/mountinfo", "/proc/swaps", "/etc/fstab", "/etc/crypttab" } },
        { "Installed packages",
            { "/var/lib/dpkg/status", "/etc/apt/sources.list", "/etc/apt/sources.list.d", "/var/lib/rpm",
                "/var/lib/pacman/local", "/var/lib/snapd/state.json" } },
        { "Temporary folders (metadata only)", { "/tmp", "/var/tmp", "/dev/shm" }, true },
    };
    return items;
}

} // namespace tarnhollow::tool
