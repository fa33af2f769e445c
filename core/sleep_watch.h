// Watches for the system's notices that the computer is about to sleep and
// that it woke, and passes them to the program's thread (sleep_notices.h).
#pragma once
#include <cstdint>

// Starts the watch on a thread of its own: on Linux logind's, on the system bus;
// on Windows the suspend and resume callback of a program without a window (a
// window takes them as messages). Call once in main after watch_end_signals,
// so that the thread inherits the blocked end signals. Where no service tells
// of sleep, the watch ends quietly and a sleep is noticed from the clocks alone.
void start_sleep_watch();
// Ends the watch and joins its thread; call before main returns.
void stop_sleep_watch();

// The notices as every watcher passes them on, each with a note on standard
// error (a run's log then shows why it has a gap). A sleep gives the program's
// thread at most wait_ms to make the run's data safe; true when it did.
bool pass_on_sleep(int64_t wait_ms);
void pass_on_resume();
