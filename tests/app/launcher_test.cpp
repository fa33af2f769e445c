// The launcher's choices, through a fake of its system calls.
#include <gtest/gtest.h>

#include "app/launcher.h"

namespace {

struct FakeSystem : LauncherSystem {
    unsigned long documents_error = 0, folder_error = 0, start_error = 0;
    std::wstring made, started, started_in, told;

    std::wstring documents_folder(unsigned long& error) override
    {
        return (error = documents_error) != 0 ? L"" : L"\\\\server\\home\\Zo\u00eb\\Documents\\";
    }
    std::wstring launcher_path(unsigned long&) override { return L"C:\\Program Files\\SDL\\serial-logger.exe"; }
    unsigned long make_folder(const std::wstring& path) override { return made = path, folder_error; }
    unsigned long run_program(const std::wstring& program, const std::wstring& folder, int& status) override
    {
        return started = program, started_in = folder, status = 7, start_error;
    }
    std::wstring error_text(unsigned long error) override { return L"reason " + std::to_wstring(error) + L"\r\n"; }
    void tell_user(const std::wstring& message) override { told = message; }
};

TEST(Launcher, RunsTheLoggerBesideItInTheDataFolderOrSaysWhyNot)
{
    const std::wstring data = L"\\\\server\\home\\Zo\u00eb\\Documents\\Data Logger";
    const std::wstring logger = L"C:\\Program Files\\SDL\\logger.exe";
    struct Case {
        unsigned long documents_error, folder_error, start_error;
        int status;
        std::wstring started, told;
    } cases[] = {
        {0, 0, 0, 7, logger, L""},
        {5, 0, 0, 1, L"", L"could not be found, so the data folder cannot be made in it.\n\nreason 5\n\n"},
        {0, 3, 0, 1, L"", L"The data folder could not be made:\n" + data + L"\n\nreason 3\n\n"},
        {0, 0, 2, 1, logger, L"The logger could not be started:\n" + logger + L"\n\nreason 2\n\n"},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        system.documents_error = c.documents_error, system.folder_error = c.folder_error;
        system.start_error = c.start_error;
        EXPECT_EQ(run_launcher(system), c.status);
        EXPECT_EQ(system.started, c.started);
        EXPECT_EQ(system.started_in, c.started.empty() ? L"" : data);
        EXPECT_EQ(system.made, c.documents_error != 0 ? L"" : data);
        EXPECT_NE(system.told.find(c.told), std::wstring::npos) << c.documents_error << c.folder_error;
        EXPECT_EQ(system.told.empty(), c.told.empty());
    }
    EXPECT_EQ(data_folder_in(L"D:\\"), L"D:\\Data Logger");
    EXPECT_EQ(folder_of(L"C:/a b/serial-logger.exe"), L"C:/a b");
}

}  // namespace
