// comscan: lists the COM ports present on this machine, then waits for a key.
// It never configures a port and never sends it anything.
#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "core/clock.h"
#include "core/com_ports.h"
#include "scan/port_probe.h"

namespace {

// The console settings to put back if a signal ends the wait early.
termios console_settings{};
volatile std::sig_atomic_t console_changed = 0;

void restore_console_and_die(int signal_number)
{
    if (console_changed)
        tcsetattr(STDIN_FILENO, TCSANOW, &console_settings);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void write_all(const std::string& text)
{
    size_t written = 0;
    while (written < text.size()) {
        ssize_t count = write(STDOUT_FILENO, text.data() + written, text.size() - written);
        if (count <= 0)
            return;  // nobody reads our output: still wait for the key
        written += static_cast<size_t>(count);
    }
}

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    write_all(port_list_text(present_ports(com_port_path)));

    SingleKeyMode key_mode(STDIN_FILENO);
    if (key_mode.active()) {
        console_settings = key_mode.saved_settings();
        console_changed = 1;
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            std::signal(signal_number, restore_console_and_die);
    }
    wait_for_key(STDIN_FILENO, program_clock());
    return 0;
}
