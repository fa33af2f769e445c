// What the system is asked for around a run: the machine kept awake with its
// display on while sampling, and a fine system timer for the program's life.
// On Linux there is nothing to ask: the timer is fine already and the window
// keeps the screen saver off while it is open.
#pragma once

// Program start and end: a 1 ms system timer, so that sleeps and waits wake on time.
void hold_fine_timer();
void release_fine_timer();
// Start of sampling, and the end of the closing stage whatever the ending;
// each asks once however often it is called.
void keep_machine_awake();
void let_machine_sleep();
