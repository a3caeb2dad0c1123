// Counts the instructions a program executes, exactly, by single-stepping it
// (ptrace). Slow, but it runs on the processor itself, so it counts code that
// valgrind cannot run (AVX-512) as well as any other.
//
//     step_count PROGRAM [ARGUMENTS...]     prints the count
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);  // stopped at the exec
    unsigned long long steps = 0;
    while (ptrace(PTRACE_SINGLESTEP, child, nullptr, nullptr) == 0) {
        waitpid(child, &status, 0);
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        ++steps;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not exit cleanly\n", argv[1]);
        return 1;
    }
    std::printf("%llu\n", steps);
    return 0;
}
