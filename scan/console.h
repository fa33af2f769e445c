// The scanner's console: its listing written byte for byte to standard output,
// and standard input as the key that ends the program.
#pragma once
#include <memory>
#include <string>

// Writes the bytes exactly as given (no line-end translation). A closed or
// unread output is ignored: the scanner still waits for its key.
void write_standard_output(const std::string& bytes);

// Standard input as a key source. While it lives, a console or terminal on
// standard input gives each key at once, without echo or line editing; the
// earlier settings come back when it ends.
class ConsoleKeys {
public:
    ConsoleKeys();
    ~ConsoleKeys();
    ConsoleKeys(const ConsoleKeys&) = delete;
    ConsoleKeys& operator=(const ConsoleKeys&) = delete;

    // Looks once, without waiting: true when a key was pressed (it is
    // consumed), when a byte came through a pipe or file, at end of input, or
    // when standard input cannot be read at all, so a scan without a console
    // still ends.
    bool key_arrived();

private:
    struct State;
    std::unique_ptr<State> state_;
};
