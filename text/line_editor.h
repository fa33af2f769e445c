// The keyboard line editor: edits one line at the text cursor until Enter.
#pragma once
#include <string>

class Screen;
class Clock;

// Runs the editor at the cursor and returns the typed line; the cursor ends
// just after the line's last character.
std::string edit_line(Screen& screen, Clock& clock);
