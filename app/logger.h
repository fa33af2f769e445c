// The logger's entry procedure: the stages of a run in their fixed order.
#pragma once
#include <cstdint>

// Runs the whole program on the installed screen, channels and field reader
// and returns the exit status: 0 after the closing stage; 1 only when the
// window cannot be opened (the cause is written to standard error).
int run_logger();

// Saves the picture for the file number, closes the data and serial channels.
void run_closing_stage(int32_t file_number);
