// Preloaded into tagsplit by the end-to-end tests: a SIGALRM handler without
// SA_RESTART and a fast interval timer, so that blocked reads and writes keep
// failing with EINTR.
#include <csignal>

#include <sys/time.h>

namespace {

void on_alarm(int) {}

__attribute__((constructor)) void arm_interrupts() {
    struct sigaction action = {};
    action.sa_handler = on_alarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: interrupted calls return EINTR
    sigaction(SIGALRM, &action, nullptr);
    itimerval every = {{0, 200}, {0, 200}};
    setitimer(ITIMER_REAL, &every, nullptr);
}

}  // namespace
