// The CPU one flashing unit costs: one unattended kestrin, as the station starts it, flashing a
// 256 KiB image to the unit simulator on a pseudo-terminal at 115200 and at 921600 baud; its CPU
// time (user + system, from getrusage of the child) against its wall time, as a share of one core.
//
//   flashing at 115200        target under 1 % of a core
//   flashing at 921600        target under 3 %
//   waiting for a prompt      a silent unit: the run is its start-up's and _TC's prompt waits and
//                             pauses until it gives up; target at most 2 %
//   idle with the port open   the window (offscreen) with its port open and nothing on the line,
//                             over 5 s after it has settled; target 0
//
// Also the system calls per second of the flash at 115200 are worth a look with
// `strace -c -f`; this program reports only the times.
//
//   bench_unit_cpu

#include "tests/unit-sim/sim_process.h"

#include <QTemporaryDir>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr std::size_t kImageBytes = 256 * 1024;

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

void write_folder(const std::string& dir, int baud, const char* mode)
{
    write_file(dir + "/LoaderDefault.ini", "Port=COM1\nBaud=" + std::to_string(baud) +
                                               "\nDataBits=8\nParity=0\nStopBits=1\nScript=flash.sld\nReserved=\nMode=" +
                                               mode + "\n");
    write_file(dir + "/flash.sld", "_TC \"^M\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n");
    std::string image(kImageBytes, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 % 251);
    write_file(dir + "/image.bin", image);
}

double seconds_of(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// kestrin in `dir` on the simulator's pseudo-terminal; its process id, or -1.
pid_t start_kestrin(const std::string& dir, const std::string& tty, bool unattended)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (!std::string(*e).starts_with("KESTRIN_"))
            env.emplace_back(*e);
    env.push_back("KESTRIN_COM1=" + tty);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    if (unattended)
        env.push_back("KESTRIN_UNATTENDED=1");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string program = KESTRIN_BUILD_DIR "/kestrin";
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir + "/journal.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

struct Run {
    double cpu_s = 0, wall_s = 0;
    int status = -1;
};

Run wait_for(pid_t pid, std::chrono::steady_clock::time_point started)
{
    Run run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.cpu_s = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// One unattended run against a simulator started with `sim_args`.
Run unattended_run(int baud, const std::vector<std::string>& sim_args)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    write_folder(folder, baud, "Automatic");
    std::vector<std::string> args = {"--pty", folder + "/unit.tty", "--baud", std::to_string(baud)};
    args.insert(args.end(), sim_args.begin(), sim_args.end());
    SimProcess sim(args);
    if (!sim.started())
        return {};
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = start_kestrin(folder, folder + "/unit.tty", true);
    return pid < 0 ? Run{} : wait_for(pid, started);
}

// CPU seconds /proc/PID/stat gives so far (user + system).
double cpu_of(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The window with its port open and nothing on the line: the CPU share over 5 s once settled.
double idle_share()
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    write_folder(folder, 115200, "Manual");
    SimProcess sim({"--pty", folder + "/unit.tty", "--baud", "115200"});
    const pid_t pid = sim.started() ? start_kestrin(folder, folder + "/unit.tty", false) : -1;
    if (pid < 0)
        return -1;
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double before = cpu_of(pid);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double used = cpu_of(pid) - before;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return used / 5;
}

bool report(const char* what, const Run& run, double target_percent)
{
    if (run.wall_s <= 0) {
        std::printf("%-28s the run did not happen\n", what);
        return false;
    }
    std::printf("%-28s %.2f s CPU over %.1f s: %.2f %% of a core (target under %.0f %%), exit status %d\n", what,
                run.cpu_s, run.wall_s, 100 * run.cpu_s / run.wall_s, target_percent, run.status);
    return true;
}

} // namespace

int main()
{
    bool ran = report("flashing at 115200", unattended_run(115200, {}), 1);
    ran = report("flashing at 921600", unattended_run(921600, {}), 3) && ran;
    ran = report("waiting for a prompt", unattended_run(115200, {"--silent"}), 2) && ran;
    const double idle = idle_share();
    std::printf("%-28s %.2f %% of a core over 5 s (target 0)\n", "idle with the port open", 100 * idle);
    return ran && idle >= 0 ? 0 : 1;
}
