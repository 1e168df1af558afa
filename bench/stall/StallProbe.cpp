// Preloaded (LD_PRELOAD) into a Qt program by the benchmarks: a 1 ms timer on the main thread
// whose largest gap is the longest time the main thread could not run its event loop. Every
// 100 ms one line "<CLOCK_MONOTONIC ms at the end of the period> <largest gap in us> <ticks>"
// is appended to the file named by VORN_STALL_PROBE_OUT; stallprobe.py reads it.
#include <QCoreApplication>
#include <QObject>
#include <QTimerEvent>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long long NowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

class StallProbe : public QObject {
public:
    StallProbe(int fd, QObject* parent) : QObject(parent), m_fd(fd) {
        m_last = m_periodStart = NowUs();
        startTimer(1, Qt::PreciseTimer);
    }

protected:
    void timerEvent(QTimerEvent*) override {
        const long long now = NowUs();
        const long long gap = now - m_last;
        m_last = now;
        if (gap > m_maxGap)
            m_maxGap = gap;
        ++m_ticks;
        if (now - m_periodStart < 100000)
            return;
        char line[96];
        const int n =
            std::snprintf(line, sizeof line, "%lld %lld %d\n", now / 1000, m_maxGap, m_ticks);
        if (n > 0 && ::write(m_fd, line, static_cast<size_t>(n)) < 0)
            return;
        m_periodStart = now;
        m_maxGap = 0;
        m_ticks = 0;
    }

private:
    int m_fd;
    long long m_last = 0;
    long long m_periodStart = 0;
    long long m_maxGap = 0;
    int m_ticks = 0;
};

void StartProbe() {
    const char* out = std::getenv("VORN_STALL_PROBE_OUT");
    if (!out || !*out || QCoreApplication::applicationName() == QLatin1String("QtWebEngineProcess"))
        return;
    const int fd = ::open(out, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    new StallProbe(fd, QCoreApplication::instance());
}

// The engine's helper processes are started with this process's environment: they must not
// load the probe too.
__attribute__((constructor)) void ForgetPreload() {
    ::unsetenv("LD_PRELOAD");
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartProbe)
