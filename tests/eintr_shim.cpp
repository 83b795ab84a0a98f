// Preloaded into tagsplit by the end-to-end tests: a SIGALRM handler without
// SA_RESTART and a fast interval timer, so that blocked calls keep being interrupted.
#include <csignal>
#include <sys/time.h>

__attribute__((constructor)) static void arm_interrupts() {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigaction(SIGALRM, &action, nullptr);  // no SA_RESTART: interrupted calls fail with EINTR
    itimerval every = {{0, 200}, {0, 200}};
    setitimer(ITIMER_REAL, &every, nullptr);
}
