// serial-logger.exe: the logger in the user's data folder, as the Start menu starts it.
#include "app/launcher.h"

int main() { return run_launcher(windows_launcher_system()); }
