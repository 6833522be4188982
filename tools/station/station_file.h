#pragma once
// The station file: which units a station flashes, and the configuration they all run with.
//
// A station file is an INI file. Its folder is the station folder: every unit's kestrin runs
// there, so the folder holds LoaderDefault.ini, the script it names and the script's images.
//
//   [station]
//   name=Bench A            ; optional: the file's base name
//   parallel=16             ; optional: at most this many units at once (1 to 128)
//   time_limit=900          ; optional: seconds a unit may take before it is stopped (1 to 86400)
//   records=records.sqlite  ; optional: the records database, relative to the station folder,
//                           ; or postgresql://USER@HOST:PORT/DBNAME (see database_url.h)
//   start=button            ; optional: button (Start runs the units) or when_present (each
//                           ; armed fixture starts by itself when its unit answers)
//   require_serial=false    ; optional: true: a fixture starts only once it has a serial
//   [units]
//   A1=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0
//   A2=/dev/ttyUSB1         ; NAME=DEVICE, in the order listed
//
// Lines are [section], NAME=VALUE (blanks around both are dropped), empty, or comments beginning
// with ';' or '#'. A unit's name becomes a file name (runs/<start>/<unit>.log) and a word of
// --only, so it holds only letters, digits, '-', '_' and '.', and does not begin with '.'.
//
// The configuration must let a station drive it; its line settings (lines 2 to 5) and prompts
// (lines 14 and 15) are also what the presence probe uses: setting line 8 selects automatic mode, line 1
// gives a COM number (each unit's device is mapped to it), line 25 does not select Ethernet, and
// line 6 names a script that is a readable file. Anything else is refused with one message that
// names the file and its line (the station file's own line number, or LoaderDefault.ini's setting
// line, which is how that file's lines are known).
//
// Nothing here touches a window or starts anything: text in, settings or one message out.

#include "serial/line_settings.h"

#include <optional>
#include <string>
#include <vector>

struct StationUnit {
    std::string name;
    std::string device;

    bool operator==(const StationUnit&) const = default;
};

struct StationSettings {
    std::string file;   // the station file as given
    std::string folder; // its folder, absolute
    std::string name;
    int parallel = 16;
    int time_limit_s = 900;
    std::string records; // absolute path of the records database, or its postgresql:// address
    std::string spool;   // with an address: <station file's base name>.spool.sqlite in the folder
    std::string ledger;  // <base name>.station.sqlite in the folder: the units that run
    std::string lock;    // <base name>.lock in the folder: one station at a time
    std::vector<StationUnit> units;
    bool start_when_present = false; // start=when_present
    bool require_serial = false;

    // From LoaderDefault.ini in the station folder.
    int com_number = 0;
    std::string script;
    std::string upload_word = "LF";
    LineSettings line{.baud = 19200};
    std::string prompts = "#>"; // normal and loader prompt
};

struct StationFileResult {
    std::optional<StationSettings> settings;
    std::string error; // set when settings are not
};

inline constexpr int kMaxParallelUnits = 128;
inline constexpr int kMaxTimeLimitSeconds = 86400;

StationFileResult read_station_file(const std::string& path);
