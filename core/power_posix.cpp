// Linux asks nothing: timed waits are fine-grained already, and the SDL window
// keeps the X screen saver and the desktop's idle sleep off while it is open.
#include "core/power.h"

void hold_fine_timer() {}
void release_fine_timer() {}
void keep_machine_awake() {}
void let_machine_sleep() {}
