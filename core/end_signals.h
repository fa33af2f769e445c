// Requests from outside to end the program (Ctrl+C, a closed terminal, the
// SIGTERM of a shutdown or log-out), handed to the program as a callback.
#pragma once
#include <functional>

// Call first in main, before any other thread starts. The first request calls
// request_end on a thread of its own. After it only a second Ctrl+C ends the
// process at once, killed by that signal; the SIGTERM and SIGHUP that a
// session's end sends together leave the closing stage to finish. A signal
// the program was started with ignored (nohup) stays ignored. SIGPIPE is
// ignored process-wide, so a closed pipe on standard output or error cannot
// end a run unsaved.
void watch_end_signals(std::function<void()> request_end);
// Before main returns: the watching thread ends, so no request comes after
// it; the end signals stay blocked (one that comes then is not taken).
void stop_watching_end_signals();
