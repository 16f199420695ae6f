// fork + execv + waitpid. All signals are blocked across the fork so that the
// child never runs the daemon's SIGUSR1 handler between fork and exec: it
// restores the default disposition first, then the caller's signal mask. A
// wait cut short by a signal is repeated, so the program has always ended
// when RunProgram returns.
#include "program_runner.h"

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace ntpsyncd {

int RunProgram(const char* path, const char* const argv[]) {
    sigset_t all_signals;
    sigset_t previous_mask;
    sigfillset(&all_signals);
    sigprocmask(SIG_BLOCK, &all_signals, &previous_mask);

    const pid_t child = fork();
    if (child == 0) {
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        sigemptyset(&default_action.sa_mask);
        sigaction(SIGUSR1, &default_action, nullptr);
        sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
        // execv takes non-const pointers for historical reasons; it does not
        // write through them.
        execv(path, const_cast<char* const*>(argv));
        _exit(127);
    }
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
    if (child < 0) return -1;

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

}  // namespace ntpsyncd
