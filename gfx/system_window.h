// The system's real window: SDL2 on Linux (window_sdl.cpp), plain Win32 on
// Windows (window_win32.cpp), library gfx_window; CMake picks the file.
#pragma once
#include <memory>

#include "gfx/window.h"

std::unique_ptr<Window> make_system_window();
