#include "analysis/parallel.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

std::atomic<int> requestedThreads{0};
thread_local int backgroundDepth = 0;

// Lowers the calling thread's priority for good (raising it again needs a privilege).
void lowerPriority()
{
#ifdef Q_OS_LINUX
    thread_local bool lowered = false;
    if (!lowered) {
        // On Linux the nice value belongs to the thread, not to the process.
        setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
        lowered = true;
    }
#endif
}

// Pools of their own: the count set here must not limit or be limited by other users of
// Qt's global pool, and background work must not take the threads of work someone waits for.
QThreadPool &pool()
{
    static QThreadPool foreground;
    static QThreadPool background;
    return backgroundDepth > 0 ? background : foreground;
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
        const bool inBackground = backgroundDepth > 0;
        threads.start([&work, &finished, begin, end, inBackground] {
            if (inBackground)
                lowerPriority();
            work(begin, end);
            finished.release();
        });
    }
    // The calling thread takes the first part instead of waiting idle.
    work(0, partBegin(1));
    finished.acquire(int(parts - 1));
}

Parallel::BackgroundScope::BackgroundScope()
{
    lowerPriority();
    ++backgroundDepth;
}

Parallel::BackgroundScope::~BackgroundScope()
{
    --backgroundDepth;
}
