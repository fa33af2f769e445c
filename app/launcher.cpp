// The launcher's choices: where the data folder is, which program starts, and
// what the user is told when either cannot be had.
#include "app/launcher.h"

namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring reason(LauncherSystem& system, unsigned long error)
{
    std::wstring text = system.error_text(error);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text.empty() ? L"error " + std::to_wstring(error) : text;
}

int refuse(LauncherSystem& system, const std::wstring& what, unsigned long error)
{
    const std::wstring why = error != 0 ? L"\n\n" + reason(system, error) : std::wstring();
    system.tell_user(what + why + L"\n\nThe logger was not started.");
    return 1;
}

}  // namespace

std::wstring data_folder_in(const std::wstring& documents)
{
    std::wstring folder = documents;
    while (!folder.empty() && is_separator(folder.back()))
        folder.pop_back();
    return folder + L"\\Data Logger";
}

std::wstring folder_of(const std::wstring& path)
{
    const std::size_t end = path.find_last_of(L"\\/");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end);
}

int run_launcher(LauncherSystem& system)
{
    unsigned long error = 0;
    const std::wstring documents = system.documents_folder(error);
    if (error != 0 || documents.empty())
        return refuse(system, L"Your Documents folder could not be found, so the data folder cannot be made in it.",
                      error);
    const std::wstring data_folder = data_folder_in(documents);
    if ((error = system.make_folder(data_folder)) != 0)
        return refuse(system, L"The data folder could not be made:\n" + data_folder, error);

    const std::wstring launcher = system.launcher_path(error);
    if (error != 0 || folder_of(launcher).empty())
        return refuse(system, L"The launcher could not find the folder it was started from.", error);
    const std::wstring logger = folder_of(launcher) + L"\\logger.exe";
    int exit_status = 0;
    if ((error = system.run_program(logger, data_folder, exit_status)) != 0)
        return refuse(system, L"The logger could not be started:\n" + logger, error);
    return exit_status;
}
