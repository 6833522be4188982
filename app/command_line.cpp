#include "app/command_line.h"

namespace {

constexpr int kUsageError = 2;

constexpr const char* kUsage = R"(usage: kestrin [--help | --version]

Kestrin reprograms the flash memory of a video processing unit over RS-232 or TCP.
It reads LoaderDefault.ini from its working directory; in automatic mode it runs the
configured script and ends, otherwise it waits for a technician to open a script.

Options:
  --help                this text
  --version             the version

Environment:
  KESTRIN_UNATTENDED    when set and not empty, no dialog is shown: each writes one
                        journal line to standard error instead (see kestrin(1))
  KESTRIN_ANSWERS       comma-separated answers to unattended questions: ok, cancel,
                        yes, no
  KESTRIN_OPEN          the file that the unattended file-open dialog chooses
  KESTRIN_COM<n>        COM n is this device (KESTRIN_COM1=/dev/ttyUSB0); when any is
                        set, the mapped numbers are the only ports

Exit status of an unattended run that ends by itself (any other run ends with 0):
  0                     the script ran to its end and showed no "Error..." message
  1                     the script failed
  2                     no unit was found
  3                     the configuration or the script could not be read
An unknown option ends with status 2.
)";

} // namespace

std::optional<CommandLineEnd> read_command_line(const std::vector<std::string>& args)
{
    bool help = false;
    bool version = false;
    for (const std::string& arg : args) {
        if (arg == "--help") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else {
            return CommandLineEnd{kUsageError, {},
                                  "kestrin: unknown option '" + arg + "' (see kestrin --help)\n"};
        }
    }
    if (help)
        return CommandLineEnd{0, kUsage, {}};
    if (version)
        return CommandLineEnd{0, "kestrin " KESTRIN_VERSION "\n", {}};
    return std::nullopt;
}
