#pragma once
// What the tests of the real kestrin-station share: running it, reading what it wrote, and a
// station folder whose units are simulators on pseudo-terminals.

#include "tests/support/temp_dir.h"
#include "tests/unit-sim/sim_process.h"
#include "tools/station/records.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

struct StationResult {
    int exit_code = -1;
    std::string out, err;
};

inline void start_station(QProcess& process, const std::string& dir, const QStringList& args)
{
    process.setWorkingDirectory(QString::fromStdString(dir));
    process.start(KESTRIN_BUILD_DIR "/kestrin-station", args);
}

inline StationResult finish_station(QProcess& process)
{
    StationResult result;
    if (!process.waitForFinished(400000))
        process.kill();
    process.waitForFinished(5000);
    result.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

inline StationResult run_station(const std::string& dir, const QStringList& args)
{
    QProcess process;
    start_station(process, dir, args);
    return finish_station(process);
}

inline std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines of one unit's changes, before the empty line that opens the table.
inline std::vector<std::string> lines_of_unit(const std::string& out, const std::string& unit)
{
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(out.substr(0, out.find("\n\n"))))
        if (line.starts_with(unit + " "))
            lines.push_back(line.substr(unit.size() + 1));
    return lines;
}

inline std::vector<FlashRecord> all_records(const std::string& path)
{
    QString error;
    const auto store = open_record_store(path, error);
    std::optional<std::vector<FlashRecord>> all = store ? store->readAll() : std::nullopt;
    EXPECT_TRUE(all) << error.toStdString();
    return all.value_or(std::vector<FlashRecord>{});
}

inline std::string station_folder(const TempWorkDir& dir, const std::string& script)
{
    dir.write("LoaderDefault.ini", "Port=COM2\nBaud=115200\nDataBits=8\nParity=0\nStopBits=1\nScript=flash.sld\n"
                                   "Reserved=\nMode=Automatic\n");
    dir.write("flash.sld", script);
    std::string image(6000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7 % 253);
    return dir.write("image.bin", image);
}

inline const std::string kFlashScript = "_TC \"^M\"\n_LF image.bin\n_LA 0x10000\n_LV V1\n_LD\n_FI\n";

inline std::unique_ptr<SimProcess> sim_at(const TempWorkDir& dir, const std::string& unit, std::vector<std::string> faults)
{
    std::vector<std::string> args{"--pty", dir.path(unit + ".tty"), "--save-dir", dir.path(unit + "-saved")};
    args.insert(args.end(), faults.begin(), faults.end());
    auto sim = std::make_unique<SimProcess>(args);
    EXPECT_TRUE(sim->started()) << sim->errors();
    return sim;
}

