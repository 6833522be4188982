#pragma once
// The main of a benchmark that measures once per baud rate: the rates given on the command line,
// or its defaults, each measured in turn in an offscreen, unattended application.
//
//   int main(int argc, char** argv) { return measure_at_rates(argc, argv, {38400, 115200}, measure); }

#include <QApplication>

#include <cstdlib>
#include <vector>

// `measure` prints its figures and returns false when the run did not complete.
inline int measure_at_rates(int argc, char** argv, std::vector<int> rates, bool (*measure)(int baud))
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KESTRIN_UNATTENDED", "1");
    QApplication app(argc, argv);
    if (argc > 1) {
        rates.clear();
        for (int i = 1; i < argc; ++i)
            rates.push_back(std::atoi(argv[i]));
    }
    bool all = true;
    for (int baud : rates)
        all = measure(baud) && all;
    return all ? 0 : 1;
}
