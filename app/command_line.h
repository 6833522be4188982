#pragma once
// Kestrin's command line, read before the application object exists.
//
// The program takes two options: --help prints a short usage (the options, the environment
// variables and the exit statuses) and --version prints "kestrin 2.00"; both end the program
// with status 0. Any other argument is refused on standard error with status 2. Since nothing
// else has happened yet, none of this opens a window or reads a file. A command line without
// arguments starts the program.
//
// The two options need no parser: QCommandLineParser would drop the dashes of an unknown option
// and split "-ab" into letters, where the refusal names the argument exactly as it was typed.
//
//   read_command_line(args)    args without the program name -> what to do

#include <optional>
#include <string>
#include <vector>

struct CommandLineEnd {
    int status = 0;
    std::string out; // for standard output
    std::string err; // for standard error
};

// Nothing when the program is to start; otherwise how it ends at once.
std::optional<CommandLineEnd> read_command_line(const std::vector<std::string>& args);
