// Standard output on Windows: the C runtime's stream, flushed at once.
#include <cstdio>

#include "core/stdout_text.h"

bool write_stdout_text(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return false;
    return std::fflush(stdout) == 0;
}
