#include "tests/contract/ContractSupport.h"
#include "collector/Contract.h"

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace tarnhollow::testing {

void writeFile(const std::filesystem::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!(out << content))
        throw std::runtime_error("cannot write " + file.string());
}

void writeScript(const std::filesystem::path& file, const std::string& body)
{
    writeFile(file, "#!/bin/sh\n" + body);
    std::filesystem::permissions(file, std::filesystem::perms(0755));
}

std::string readFile(const std::filesystem::path& file)
{
    std::ostringstream content;
    content << std::ifstream(file, std::ios::binary).rdbuf();
    return content.str();
}

std::vector<std::string> splitNul(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1)
        parts.push_back(text.substr(start, nul - start));
    return parts;
}

LaunchOutcome launchAndWait(TaskLauncher& launcher, const TaskRequest& request)
{
    struct Shared {
        std::mutex lock;
        TaskEnd end;
        std::promise<void> done;
    };
    auto shared = std::make_shared<Shared>();
    LaunchOutcome outcome;
    outcome.launch = launcher.launch(request, [shared](int32_t status, std::string errorOutput) {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->end.status = status;
        shared->end.errorOutput = std::move(errorOutput);
        if (++shared->end.calls == 1)
            shared->done.set_value();
    });
    if (outcome.launch.launched &&
        shared->done.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready) {
        std::lock_guard<std::mutex> guard(shared->lock);
        outcome.end = shared->end;
    }
    return outcome;
}

bool runningAsRoot() { return ::geteuid() == 0; }

ThrowawayUser::ThrowawayUser(const std::string& role)
    : name("th-" + role.substr(0, 8) + "-" + std::to_string(::getpid()))
{
    const passwd* entry = std::system(("/usr/sbin/useradd -M -N -g users -s /bin/sh " + name).c_str()) == 0
                              ? ::getpwnam(name.c_str())
                              : nullptr;
    if (!entry)
        throw std::runtime_error("cannot add user " + name);
    uid = entry->pw_uid;
    gid = entry->pw_gid;
}

ThrowawayUser::~ThrowawayUser() { std::system(("/usr/sbin/userdel " + name + " 2>/dev/null").c_str()); }

int ThrowawayUser::run(const std::string& command) const
{
    const int status =
        std::system(("/usr/bin/setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(gid) +
                     " --clear-groups /bin/sh -c " + contract::shellQuote(command))
                        .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ThrowawayUser::own(const std::filesystem::path& item) const
{
    if (::lchown(item.c_str(), uid, gid) != 0)
        throw std::runtime_error("cannot give " + item.string() + " to " + name);
}

} // namespace tarnhollow::testing
