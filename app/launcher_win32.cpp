// The launcher's Windows calls: the known Documents folder, the launcher's own
// path, the folder, the logger's process and the message box, all in wide
// characters so that any user name or path works.
// windows.h first: the other system headers rely on its types.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "app/launcher.h"

namespace {

class WindowsLauncherSystem final : public LauncherSystem {
public:
    std::wstring documents_folder(unsigned long& error) override
    {
        // The known folder, not %USERPROFILE%\Documents: it may be redirected
        // to OneDrive or a network share. KF_FLAG_CREATE makes it when missing.
        PWSTR path = nullptr;
        const HRESULT result = SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &path);
        std::wstring folder;
        if (SUCCEEDED(result) && path != nullptr)
            folder = path;
        else
            error = static_cast<unsigned long>(result);
        CoTaskMemFree(path);
        return folder;
    }

    std::wstring launcher_path(unsigned long& error) override
    {
        // Long paths need more than MAX_PATH; the buffer grows until it fits.
        for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
            std::wstring path(size, L'\0');
            const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
            if (length == 0) {
                error = GetLastError();
                return {};
            }
            if (length < size) {
                path.resize(length);
                return path;
            }
        }
        error = ERROR_INSUFFICIENT_BUFFER;
        return {};
    }

    unsigned long make_folder(const std::wstring& path) override
    {
        const DWORD error = CreateDirectoryW(path.c_str(), nullptr) ? 0 : GetLastError();
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return 0;
        // A file of that name is in the way, or the folder could not be made.
        return error != 0 ? error : ERROR_PATH_NOT_FOUND;
    }

    unsigned long run_program(const std::wstring& program, const std::wstring& folder, int& exit_status) override
    {
        std::wstring command_line = L"\"" + program + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        // Standard error and output reach a caller that redirected the launcher's.
        const HANDLE error_output = GetStdHandle(STD_ERROR_HANDLE);
        const bool pass_handles = error_output != nullptr && error_output != INVALID_HANDLE_VALUE;
        if (pass_handles) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
            startup.hStdError = error_output;
        }
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, pass_handles, 0, nullptr,
                            folder.c_str(), &startup, &process))
            return GetLastError();
        CloseHandle(process.hThread);
        // Windows shows a busy pointer until a new program first looks for
        // input; the launcher has no window, so it looks once now and leaves
        // the pointer to the logger.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        // Waiting passes the logger's exit status on to whoever started the launcher.
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 1;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        exit_status = static_cast<int>(status);
        return 0;
    }

    std::wstring error_text(unsigned long error) override
    {
        wchar_t text[512] = {};
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            static_cast<DWORD>(error), 0, text, 512, nullptr);
        return std::wstring(text, length < 512 ? length : 0);
    }

    void tell_user(const std::wstring& message) override
    {
        MessageBoxW(nullptr, message.c_str(), L"Serial Data Logger", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    }
};

}  // namespace

LauncherSystem& windows_launcher_system()
{
    static WindowsLauncherSystem system;
    return system;
}
