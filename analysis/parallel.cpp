#include "analysis/parallel.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<int> requestedThreads{0};

// A pool of its own: the count set here must not limit or be limited by other users of
// Qt's global pool.
QThreadPool &pool()
{
    static QThreadPool threads;
    return threads;
}

} // namespace

void Parallel::setThreadCount(int count)
{
    requestedThreads = std::max(count, 0);
}

int Parallel::threadCount()
{
    const int requested = requestedThreads;
    return requested > 0 ? requested : std::max(QThread::idealThreadCount(), 1);
}

void Parallel::forRange(qint64 count, qint64 grain, const std::function<void(qint64, qint64)> &work)
{
    if (count <= 0)
        return;
    grain = std::max<qint64>(grain, 1);
    const qint64 parts = std::min<qint64>(threadCount(), (count + grain - 1) / grain);
    if (parts <= 1) {
        work(0, count);
        return;
    }
    QThreadPool &threads = pool();
    if (threads.maxThreadCount() < parts - 1)
        threads.setMaxThreadCount(int(parts - 1));

    const qint64 step = count / parts;
    const qint64 extra = count % parts;
    const auto partBegin = [&](qint64 i) { return i * step + std::min(i, extra); };
    QSemaphore finished;
    for (qint64 i = 1; i < parts; ++i) {
        const qint64 begin = partBegin(i);
        const qint64 end = partBegin(i + 1);
        threads.start([&work, &finished, begin, end] {
            work(begin, end);
            finished.release();
        });
    }
    // The calling thread takes the first part instead of waiting idle.
    work(0, partBegin(1));
    finished.acquire(int(parts - 1));
}
