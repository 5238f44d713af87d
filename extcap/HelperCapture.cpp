#include "HelperCapture.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace helpercapture {

namespace {

constexpr int SignalledBase = 128;

volatile sig_atomic_t g_stop = 0;
volatile pid_t g_child = 0;

void onSignal(int number)
{
    g_stop = number;
    if (g_child > 0)
        ::kill(g_child, SIGTERM);
}

}  // namespace

void catchTermination()
{
    struct sigaction action
    {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
}

bool stopRequested()
{
    return g_stop != 0;
}

int run(const Request &request)
{
    std::vector<std::string> arguments{request.helper, "--fifo", request.fifo};
    if (!request.filter.empty()) {
        arguments.emplace_back("--filter");
        arguments.push_back(request.filter);
    }
    arguments.push_back(request.interfaceName);
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The helper ends when this pipe does: should the extcap itself be killed, the capture
    // does not run on without anyone to stop it.
    int caller[2];
    if (::pipe2(caller, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "kalvessa100-extcap: pipe: %s\n", std::strerror(errno));
        return NotStarted;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, caller[0], STDIN_FILENO);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(caller[0]);
    if (spawned != 0) {
        ::close(caller[1]);
        std::fprintf(stderr, "kalvessa100-extcap: cannot start the capture helper %s: %s\n",
                     request.helper.c_str(), std::strerror(spawned));
        return NotStarted;
    }
    g_child = child;
    if (g_stop != 0)
        ::kill(child, SIGTERM);  // asked to stop while it was being started

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    g_child = 0;
    ::close(caller[1]);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return SignalledBase + WTERMSIG(status);
}

}  // namespace helpercapture
