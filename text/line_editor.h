// The keyboard line editor: edits one line at the text cursor until Enter.
#pragma once
#include <cstddef>
#include <string>

class Screen;
class Clock;

// The longest line the editor builds; keys that would make it longer sound the
// tone instead. Far more than the largest field (4096 bytes) that is ever read.
constexpr size_t line_editor_max_length = 8192;
constexpr int line_editor_poll_ms = 25;

// Runs the editor at the cursor and returns the typed line; the cursor ends
// just after the line's last character.
std::string edit_line(Screen& screen, Clock& clock);
