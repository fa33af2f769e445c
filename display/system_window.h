// The system's real window: SDL2 on Linux (window_sdl.cpp), plain Win32 on
// Windows (window_win32.cpp), each its own library; CMake picks one as system_window.
#pragma once
#include <memory>

#include "screen/window.h"

std::unique_ptr<Window> make_system_window();
