// comscan: lists the COM ports present on this machine, then waits for a key.
// It never configures a port and never sends it anything.
#include "core/clock.h"
#include "scan/console.h"
#include "scan/port_probe.h"

int main()
{
    write_standard_output(port_list_text(scan_ports()));
    ConsoleKeys keys;
    wait_for_key([&keys] { return keys.key_arrived(); }, program_clock());
    return 0;
}
