// Windows ends a windowed program through its window: the end of the system's
// session arrives as window messages, which the window hands to the program.
#include "core/end_signals.h"

void watch_end_signals(std::function<void()>) {}

void stop_watching_end_signals() {}
