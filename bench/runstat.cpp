// Benchmark helper: runs a command and prints its wall time and peak resident memory
// as "wall_seconds peak_kib exit_code" on standard error, leaving its output alone.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_runstat COMMAND [ARGS...]\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
        std::perror("bench_runstat");
        return 2;
    }
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::fprintf(stderr, "%.6f %ld %d\n", wall.count(), static_cast<long>(usage.ru_maxrss), code);
    return code;
}
