// Requests from outside to end the program (Ctrl+C, a closed terminal, the
// SIGTERM of a shutdown or log-out), handed to the program as a callback.
#pragma once
#include <functional>

// Call first in main, before any other thread starts. The first request calls
// request_end on a thread of its own; a second one ends the process at once,
// as a second Ctrl+C is expected to.
void watch_end_signals(std::function<void()> request_end);
