// The Windows launcher serial-logger.exe: starts logger.exe from its own folder
// in the user's data folder (the documents folder plus "Data Logger"), so the
// data files and pictures of every run gather there and never in Program Files.
#pragma once
#include <string>

// The system calls the launcher makes, a seam a test can replace. Error codes
// are the system's (0 for none).
class LauncherSystem {
public:
    virtual ~LauncherSystem() = default;
    // The user's documents folder (where it is redirected to, made if missing).
    virtual std::wstring documents_folder(unsigned long& error) = 0;
    // The full path of the running launcher.
    virtual std::wstring launcher_path(unsigned long& error) = 0;
    // Makes the folder; 0 when it exists as a folder afterwards.
    virtual unsigned long make_folder(const std::wstring& path) = 0;
    // Starts the program with the folder as its current directory and waits
    // for it to end; its exit status goes to exit_status.
    virtual unsigned long run_program(const std::wstring& program, const std::wstring& folder, int& exit_status) = 0;
    // The system's description of an error code.
    virtual std::wstring error_text(unsigned long error) = 0;
    // Tells the user why nothing started.
    virtual void tell_user(const std::wstring& message) = 0;
};

// The data folder inside a documents folder.
std::wstring data_folder_in(const std::wstring& documents);

// The folder holding a file, without its final separator ("C:\a\b.exe" gives "C:\a").
std::wstring folder_of(const std::wstring& path);

// Makes the data folder and runs the logger in it; returns the logger's exit
// status, or 1 after telling the user why nothing started.
int run_launcher(LauncherSystem& system);

// The Windows calls themselves (launcher_win32.cpp).
LauncherSystem& windows_launcher_system();
