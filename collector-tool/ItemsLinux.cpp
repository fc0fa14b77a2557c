#include "collector-tool/Items.h"

namespace tarnhollow::tool {

// Live state first, while it is closest to what it was when the responder
// arrived. Then the files, ordered so that the narrower items claim theirs
// first: a path that an earlier item took is not taken again (the system
// logs come after the authentication logs, the login records and the
// journal). Programs are named by the paths Debian installs them at; with
// a merged /usr they are found there on the other distributions too.
const std::vector<Item>& linuxItems()
{
    static const std::vector<Item> items = {
        liveItem("Live: network connections", {{"ss", {"/bin/ss", "-tuwanpe"}}}),
        liveItem("Live: network interfaces and routes", {{"ip-address", {"/bin/ip", "-details", "address", "show"}},
                                                         {"ip-route", {"/bin/ip", "route", "show", "table", "all"}},
                                                         {"ip-neighbour", {"/bin/ip", "neighbour", "show"}}}),
        liveItem("Live: firewall rules", {{"nft-ruleset", {"/usr/sbin/nft", "list", "ruleset"}},
                                          {"iptables-save", {"/usr/sbin/iptables-save"}},
                                          {"ip6tables-save", {"/usr/sbin/ip6tables-save"}}}),
        liveItem("Live: logged-in users and logins",
                 {{"who", {"/usr/bin/who", "--all"}},
                  {"last", {"/usr/bin/last", "--fullnames", "--fulltimes", "--system"}}}),
        liveItem("Live: mounts", {{"findmnt", {"/bin/findmnt", "--list"}}}),
        liveItem("Live: services and timers",
                 {{"systemctl-units", {"/bin/systemctl", "list-units", "--all", "--full", "--no-pager"}},
                  {"systemctl-unit-files", {"/bin/systemctl", "list-unit-files", "--full", "--no-pager"}},
                  {"systemctl-timers", {"/bin/systemctl", "list-timers", "--all", "--full", "--no-pager"}}}),
        {"System identity",
         {"/etc/hostname", "/etc/machine-id", "/etc/os-release", "/usr/lib/os-release", "/etc/lsb-release",
          "/etc/debian_version", "/etc/redhat-release", "/etc/timezone", "/etc/localtime", "/proc/version",
          "/proc/cmdline", "/proc/cpuinfo", "/proc/meminfo", "/proc/uptime"}},
        {"Users and groups",
         {"/etc/passwd", "/etc/shadow", "/etc/group", "/etc/gshadow", "/etc/subuid", "/etc/subgid", "/etc/login.defs",
          "/etc/shells"}},
        {"Sudoers", {"/etc/sudoers", "/etc/sudoers.d"}},
        {"PAM", {"/etc/pam.d", "/etc/pam.conf", "/etc/security"}},
        {"Dynamic linker preload", {"/etc/ld.so.preload", "/etc/ld.so.conf", "/etc/ld.so.conf.d"}},
        {"Authentication logs", {"/var/log/auth.log*", "/var/log/secure*", "/var/log/faillog"}},
        {"Login records", {"/var/log/wtmp*", "/var/log/btmp*", "/var/log/lastlog", "/run/utmp"}},
        {"Journal", {"/var/log/journal", "/run/log/journal"}},
        {"Audit logs", {"/var/log/audit", "/etc/audit"}},
        {"System logs", {"/var/log"}},
        {"Cron and at jobs",
         {"/etc/crontab", "/etc/anacrontab", "/etc/cron.d", "/etc/cron.hourly", "/etc/cron.daily", "/etc/cron.weekly",
          "/etc/cron.monthly", "/etc/cron.allow", "/etc/cron.deny", "/etc/at.allow", "/etc/at.deny", "/var/spool/cron",
          "/var/spool/anacron", "/var/spool/at"}},
        {"Systemd units",
         {"/etc/systemd", "/run/systemd/system", "/run/systemd/generator", "/usr/lib/systemd/system",
          "/usr/lib/systemd/user", "/usr/lib/systemd/system-generators", "/root/.config/systemd",
          "/home/*/.config/systemd", "/etc/init.d", "/etc/rc.local"}},
        {"Autostart entries",
         {"/etc/xdg/autostart", "/root/.config/autostart", "/home/*/.config/autostart", "/etc/update-motd.d"}},
        {"Udev rules", {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d"}},
        {"Shell histories",
         {"/root/.*history", "/home/*/.*history", "/root/.local/share/fish/fish_history",
          "/home/*/.local/share/fish/fish_history", "/root/.viminfo", "/home/*/.viminfo"}},
        {"Shell startup files",
         {"/etc/profile", "/etc/profile.d", "/etc/bash.bashrc", "/etc/environment", "/etc/zsh",
          "/root/{.profile,.bashrc,.bash_profile,.bash_login,.bash_logout,.zshrc,.zprofile,.zshenv}",
          "/home/*/"
          "{.profile,.bashrc,.bash_profile,.bash_login,.bash_logout,.zshrc,.zprofile,.zshenv}"}},
        {"SSH files", {"/etc/ssh", "/root/.ssh", "/home/*/.ssh"}},
        {"Browser histories",
         {"/root/.mozilla/firefox/*/{places.sqlite,places.sqlite-wal}",
          "/home/*/.mozilla/firefox/*/{places.sqlite,places.sqlite-wal}",
          "/root/.config/{google-chrome,chromium,microsoft-edge}/*/"
          "{History,History-journal,History-wal}",
          "/home/*/.config/{google-chrome,chromium,microsoft-edge}/*/"
          "{History,History-journal,History-wal}",
          "/root/.config/BraveSoftware/Brave-Browser/*/{History,History-journal,History-wal}",
          "/home/*/.config/BraveSoftware/Brave-Browser/*/{History,History-journal,History-wal}"}},
        {"Recent files", {"/root/.local/share/recently-used.xbel", "/home/*/.local/share/recently-used.xbel"}},
        {"Network configuration",
         {"/etc/hosts", "/etc/hosts.allow", "/etc/hosts.deny", "/etc/resolv.conf", "/etc/nsswitch.conf", "/etc/network",
          "/etc/netplan", "/etc/NetworkManager", "/etc/iptables", "/etc/nftables.conf", "/etc/ufw",
          "/run/systemd/resolve/resolv.conf"}},
        // /proc/net points into the reading process's own namespace; the first
        // process's view is the system's.
        {"Network state (/proc/net)", {"/proc/1/net"}},
        {"Process list", {"/proc/[0-9]*/{cmdline,comm,status,exe,cwd}"}},
        {"Kernel modules and settings",
         {"/proc/modules", "/proc/sys/kernel/tainted", "/etc/modules", "/etc/modprobe.d", "/etc/modules-load.d",
          "/usr/lib/modules-load.d", "/etc/sysctl.conf", "/etc/sysctl.d"}},
        {"Mounts", {"/proc/1/mounts", "/proc/1/mountinfo", "/proc/swaps", "/etc/fstab", "/etc/crypttab"}},
        {"Installed packages",
         {"/var/lib/dpkg/status", "/etc/apt/sources.list", "/etc/apt/sources.list.d", "/var/lib/rpm",
          "/var/lib/pacman/local", "/var/lib/snapd/state.json"}},
        {"PAM modules (metadata only)",
         {"/usr/lib/{x86_64-linux-gnu,aarch64-linux-gnu,i386-linux-gnu}/security", "/usr/lib/security",
          "/usr/lib64/security"},
         true},
        {"Locally installed software (metadata only)", {"/opt", "/usr/local"}, true, 3},
        {"Temporary folders (metadata only)", {"/tmp", "/var/tmp", "/dev/shm"}, true},
    };
    return items;
}

} // namespace tarnhollow::tool
