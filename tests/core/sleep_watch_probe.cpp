// Listens to the sleep watch as a run's program thread does, and shows each
// step to a test script as a file in the folder given:
//   "sleep"    made when a sleep is announced; the probe then waits for
//   "prepared" made by the script, before it says the data is safe;
//   "resumed"  made when the computer woke;
//   "end"      made by the script: the probe stops the watch and exits 0.
#include <filesystem>
#include <fstream>

#include "core/clock.h"
#include "core/sleep_notices.h"
#include "core/sleep_watch.h"

namespace {

void make_file(const std::filesystem::path& path) { std::ofstream(path).put('\n'); }

// Waits for the script, within the time the watch gives a sleep.
void wait_for_file(const std::filesystem::path& path, WakeSignal& wake)
{
    for (int tries = 0; tries < 30 && !std::filesystem::exists(path); ++tries)
        wake.wait_for(0.1);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::filesystem::path folder = argv[1];
    start_sleep_watch();
    WakeSignal wake;
    SleepNotices& notices = program_sleep_notices();
    notices.listen([&wake] { wake.raise(); });
    while (!std::filesystem::exists(folder / "end")) {
        wake.wait_for(0.1);
        const SleepNews news = notices.take_news();
        if (news.sleep_coming) {
            make_file(folder / "sleep");
            wait_for_file(folder / "prepared", wake);
            notices.sleep_prepared();
        }
        if (news.resumed)
            make_file(folder / "resumed");
    }
    notices.stop_listening();
    stop_sleep_watch();
    return 0;
}
