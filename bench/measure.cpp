// One run of a command for the benchmark scripts: its output thrown away, then its wall-clock
// seconds, CPU seconds (user and system, all threads), peak resident KiB and exit status on one
// line, to the microsecond where /usr/bin/time gives hundredths.
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: measure COMMAND [ARG...]\n");
        return 2;
    }
    timespec tsStart, tsEnd;
    clock_gettime(CLOCK_MONOTONIC, &tsStart);
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 2;
    }
    if (pid == 0) {
        int fd = open("/dev/null", O_WRONLY);
        dup2(fd, 1);
        dup2(fd, 2);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) < 0) {
        perror("wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &tsEnd);
    double secWall = (double)(tsEnd.tv_sec - tsStart.tv_sec) + (double)(tsEnd.tv_nsec - tsStart.tv_nsec) / 1e9;
    double secCpu = (double)ru.ru_utime.tv_sec + (double)ru.ru_utime.tv_usec / 1e6 + (double)ru.ru_stime.tv_sec +
                    (double)ru.ru_stime.tv_usec / 1e6;
    printf("%.6f %.6f %ld %d\n", secWall, secCpu, ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    return 0;
}
