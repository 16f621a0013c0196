#include "run.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& tz, const std::string& cwd)
{
    RunResult res{"", "", -1};
    int pipeOut[2], pipeErr[2];
    if (pipe(pipeOut) != 0 || pipe(pipeErr) != 0)
        return res;
    pid_t pid = fork();
    if (pid == 0) {
        int fdNull = open("/dev/null", O_RDONLY);
        dup2(fdNull, 0);
        dup2(pipeOut[1], 1);
        dup2(pipeErr[1], 2);
        close(pipeOut[0]);
        close(pipeErr[0]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(127);
        setenv("TZ", tz.c_str(), 1);
        std::vector<char*> args;
        for (auto const& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeOut[1]);
    close(pipeErr[1]);
    struct pollfd fds[2] = {{pipeOut[0], POLLIN, 0}, {pipeErr[0], POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? res.out : res.err).append(buf, (size_t)n);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open--;
            }
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (WIFEXITED(wstatus))
        res.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        res.status = 128 + WTERMSIG(wstatus);
    return res;
}

RunResult RunQuenfell(const std::vector<std::string>& args, const std::string& tz, const std::string& cwd)
{
    std::vector<std::string> argv{QF_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, tz, cwd);
}

std::string PathGenlog()
{
    std::string path = QF_BINARY;
    size_t ib = path.rfind("/src/driver/");
    return ib == std::string::npos ? "" : path.substr(0, ib) + "/tools/genlog";
}

std::vector<char*> RgpszOf(const std::vector<std::string>& rgstr)
{
    std::vector<char*> rgpsz;
    for (std::string const& str : rgstr)
        rgpsz.push_back(const_cast<char*>(str.c_str()));
    rgpsz.push_back(nullptr);
    return rgpsz;
}
