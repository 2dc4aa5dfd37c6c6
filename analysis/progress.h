#pragma once

#include <QElapsedTimer>
#include <QtGlobal>
#include <functional>

// How long-running core work reports progress (0..100) without knowing about widgets.
// An empty callback means "no progress bar".
using ProgressCallback = std::function<void(int)>;

// Reports the wall time of one named stage, for `peltrix-cut --time` and the benchmarks.
using StageTimer = std::function<void(const char *stage, qint64 nanoseconds)>;

// Times consecutive stages: each finish() reports the time since the previous one.
class StageClock
{
public:
    explicit StageClock(const StageTimer &timer) : timer(timer) { clock.start(); }
    void finish(const char *stage)
    {
        if (timer)
            timer(stage, clock.nsecsElapsed());
        clock.restart();
    }
    void restart() { clock.restart(); }

private:
    const StageTimer &timer;
    QElapsedTimer clock;
};
