#pragma once
// How responsive the interface thread stays: a precise timer ticks on it every tick_ms while the
// benchmark's load runs, and each tick's lateness and the worst gap between two ticks are kept.
// A window that handles its events in time sees lateness near zero.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>

class TimerLateness {
public:
    explicit TimerLateness(int tick_ms) : tick_ms_(tick_ms)
    {
        ticker_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        since_tick_.start();
        ticker_.start(tick_ms_);
    }
    void stop() { ticker_.stop(); }

    // "N ticks of 10 ms, lateness median M ms, 99th percentile P ms, worst gap G ms"
    void print() const
    {
        std::printf("%zu ticks of %d ms, lateness median %.2f ms, 99th percentile %.2f ms (target < 50 ms), "
                    "worst gap %.1f ms (target < 100 ms)",
                    lateness_ms_.size(), tick_ms_, percentile(0.5), percentile(0.99), worst_gap_ms_);
    }

private:
    void tick()
    {
        const double gap = static_cast<double>(since_tick_.nsecsElapsed()) / 1e6;
        since_tick_.restart();
        lateness_ms_.push_back(std::max(0.0, gap - tick_ms_));
        worst_gap_ms_ = std::max(worst_gap_ms_, gap);
    }

    double percentile(double p) const
    {
        if (lateness_ms_.empty())
            return 0;
        std::vector<double> sorted = lateness_ms_;
        std::sort(sorted.begin(), sorted.end());
        return sorted[static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1))];
    }

    int tick_ms_;
    QTimer ticker_;
    QElapsedTimer since_tick_;
    std::vector<double> lateness_ms_;
    double worst_gap_ms_ = 0;
};
