// The restart flag of the start-up flow: raised when the server asks the
// program to restart. It lives apart from the flow so that the local
// settings, which the flow is built on, can read it.
#include <atomic>

#include "startup/start.h"

namespace {
std::atomic<int> g_restart{0};
}

int restart_pending(void) { return g_restart.load(); }
void start_set_restart(int on) { g_restart.store(on ? 1 : 0); }
