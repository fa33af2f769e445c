// Standard input on POSIX systems: poll for a byte, then read it.
#include <poll.h>
#include <unistd.h>

#include "core/stdin_bytes.h"

StdinRead read_stdin_byte(int32_t timeout_ms, uint8_t& byte)
{
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeout_ms) <= 0)
        return StdinRead::nothing;
    unsigned char read_byte = 0;
    if (read(STDIN_FILENO, &read_byte, 1) != 1)
        return StdinRead::ended;
    byte = read_byte;
    return StdinRead::byte;
}
