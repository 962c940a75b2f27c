#include "support/Technician.h"

#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvex::test {

bool EnsureTechnician(TechnicianAccount& account, std::string& reason)
{
    if (getuid() != 0) {
        reason = "needs root to create the technician's account";
        return false;
    }
    if (!getpwnam(kTechnician)) {
        const std::string command = std::string("useradd --system --no-create-home --shell /usr/sbin/nologin --groups dialout ")
            + kTechnician + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 || !getpwnam(kTechnician)) {
            reason = "useradd failed";
            return false;
        }
    }
    const passwd* user = getpwnam(kTechnician);
    const group* dialout = getgrnam("dialout");
    account = { user->pw_uid, user->pw_gid, dialout ? dialout->gr_gid : user->pw_gid };
    return true;
}

int RunSelfAsTechnician(const TechnicianAccount& account, const std::string& filter,
    std::vector<std::string> environment, std::chrono::seconds limit)
{
    char self[4096];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    if (size <= 0)
        return -1;
    self[size] = 0;
    std::string filterWord = "--gtest_filter=" + filter;
    char* arguments[] { self, filterWord.data(), nullptr };
    std::vector<char*> variables;
    for (std::string& variable : environment)
        variables.push_back(variable.data());
    variables.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        gid_t groups[] { account.dialout };
        if (setgroups(1, groups) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0)
            _exit(kCouldNotStart);
        execve(self, arguments, variables.data());
        _exit(kCouldNotStart);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace orvex::test
