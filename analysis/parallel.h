#pragma once

#include <QtGlobal>

#include <functional>

// Splits work over rows (or any range of independent items) across the cores. Every piece
// of work given here writes only its own part of the output, so the result is the same
// bytes whatever the number of threads; only the time changes.
namespace Parallel {

// How many threads the image work may use; 0 (the default) means one per core.
void setThreadCount(int count);
int threadCount();

// Calls work(begin, end) on contiguous, non-overlapping parts of [0, count) that together
// cover it, on up to threadCount() threads, and returns when all are done. Parts hold at
// least `grain` items (except the last), so that tiny ranges run on the calling thread
// alone. `work` must not call forRange itself.
void forRange(qint64 count, qint64 grain, const std::function<void(qint64 begin, qint64 end)> &work);

// While one of these lives, work started on this thread (its own, and what forRange hands
// to other threads) runs below the priority of the rest of the program, on threads of its
// own: a run that nobody waits for must not keep the window waiting. The thread it is made
// on keeps the lower priority; make it only on a thread that does nothing else afterwards.
class BackgroundScope
{
public:
    BackgroundScope();
    ~BackgroundScope();
    BackgroundScope(const BackgroundScope &) = delete;
    BackgroundScope &operator=(const BackgroundScope &) = delete;
};

} // namespace Parallel
