// How long the main (engine UI) thread stands still while the page fetches a 50 MB model file
// through local serving for the first time: a 1 ms timer on the main thread records its largest
// gap between ticks during each fetch, and, as the engine's own floor, during an equal idle
// window just before. The page, the engine switches and the request interceptor are the client's
// own; each round fetches a file never fetched before. Needs a display (stall_bench.py gives it
// one):
//
//     build/bench/main_thread_stall [rounds]
#include "browser/BrowserProfile.h"
#include "models/serving/ModelUrl.h"
#include "models/serving/web/CModelRequestInterceptor.h"
#include "tests/support/TempFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using vorn::CModelRequestInterceptor;

namespace fs = std::filesystem;

namespace {

constexpr size_t kModelSize = 50u * 1024 * 1024;

// The largest gap between ticks of a 1 ms timer while it runs.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_largest = std::max(m_largest, m_clock.nsecsElapsed());
            m_clock.restart();
        });
    }
    void Start() {
        m_largest = 0;
        m_clock.start();
        m_timer.start();
    }
    double Stop() {
        m_timer.stop();
        return std::max(m_largest, m_clock.nsecsElapsed()) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_largest = 0;
};

// The client's interceptor, timed: its share of the main thread, apart from the engine's.
class TimedInterceptor : public CModelRequestInterceptor {
public:
    using CModelRequestInterceptor::CModelRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        QElapsedTimer clock;
        clock.start();
        CModelRequestInterceptor::interceptRequest(info);
        longest = std::max(longest, clock.nsecsElapsed() / 1e6);
    }
    double longest = 0;
};

class Page : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;
    std::function<void(const QString&)> onConsole;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel,
                                  const QString& message,
                                  int,
                                  const QString&) override {
        if (onConsole)
            onConsole(message);
    }
};

void WriteModel(const fs::path& path, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<uint64_t> block(1 << 17);
    std::ofstream out(path, std::ios::binary);
    for (size_t done = 0; done < kModelSize; done += block.size() * 8) {
        for (uint64_t& v : block)
            v = random();
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * 8));
    }
    out.close();
    // Written back before measuring, so the disk's writeback does not land in a round.
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::fdatasync(fd);
    ::close(fd);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const vorn::test::TempFolder scratch("vorn-stall");
    const fs::path root = scratch.Root();
    fs::create_directories(root / "models");
    for (int i = 0; i < rounds; ++i)
        WriteModel(root / "models" / ("model-" + std::to_string(i) + ".bin"), i);

    httplib::Server site;
    site.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<!doctype html><html><body>stall bench</body></html>", "text/html");
    });
    const int port = site.bind_to_any_port("127.0.0.1");
    std::thread siteThread([&] { site.listen_after_bind(); });
    const std::string host = "127.0.0.1:" + std::to_string(port);

    vorn::engine::PrepareEnvironment();
    int engineArgc = 1;
    QApplication app(engineArgc, argv);
    QWebEngineProfile profile;  // off the record: nothing carries over from an earlier run
    auto* interceptor =
        new TimedInterceptor(QString::fromStdString((root / "models").string()),
                             vorn::BuildModelUrlPrefixes(host, host, host, host), &profile);
    profile.setUrlRequestInterceptor(interceptor);
    Page page(&profile);
    QWebEngineView view;
    view.setPage(&page);
    view.resize(800, 600);
    view.show();

    StallMeter meter;
    std::vector<double> idle, fetching, fetchMs, intercepting;
    int round = 0;
    std::function<void()> next;
    next = [&] {
        if (round == rounds) {
            app.quit();
            return;
        }
        meter.Start();
        interceptor->longest = 0;
        QTimer::singleShot(400, [&] {
            idle.push_back(meter.Stop());
            meter.Start();
            page.runJavaScript(QString::fromStdString(
                "(function(){var t=performance.now();fetch('http://" + host + "/models/model-" +
                std::to_string(round) +
                ".bin').then(function(r){return r.arrayBuffer()}).then(function(b){"
                "console.log('DONE '+(performance.now()-t)+' '+b.byteLength)},function(e){"
                "console.log('FAILED '+e)})})()"));
        });
    };
    page.onConsole = [&](const QString& message) {
        if (message.startsWith(QStringLiteral("FAILED"))) {
            std::fprintf(stderr, "main_thread_stall: %s\n", qPrintable(message));
            app.exit(1);
            return;
        }
        if (!message.startsWith(QStringLiteral("DONE")))
            return;
        fetching.push_back(meter.Stop());
        intercepting.push_back(interceptor->longest);
        const QStringList parts = message.split(' ');
        fetchMs.push_back(parts.value(1).toDouble());
        if (parts.value(2).toULongLong() != kModelSize) {
            std::fprintf(stderr, "main_thread_stall: the page got %s bytes\n",
                         qPrintable(parts.value(2)));
            app.exit(1);
            return;
        }
        ++round;
        QTimer::singleShot(200, next);
    };
    QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool ok) {
        if (!ok) {
            std::fprintf(stderr, "main_thread_stall: the page did not load\n");
            app.exit(1);
            return;
        }
        QTimer::singleShot(1000, next);  // let the first paint settle
    });
    page.load(QUrl(QString::fromStdString("http://" + host + "/")));
    QTimer::singleShot(120'000, &app, [&] {
        std::fprintf(stderr, "main_thread_stall: no answer after two minutes\n");
        app.exit(1);
    });
    const int rc = app.exec();

    site.stop();
    siteThread.join();
    if (rc != 0 || fetching.size() != static_cast<size_t>(rounds))
        return 1;
    std::printf("main thread's longest stall (largest gap of a 1 ms timer), median of %d rounds\n",
                rounds);
    std::printf("  idle page                        %7.2f ms\n", Median(idle));
    std::printf("  first fetch of a 50 MB model     %7.2f ms   (the fetch took %.1f ms)\n",
                Median(fetching), Median(fetchMs));
    std::printf("  longest request interception     %7.2f ms\n", Median(intercepting));
    std::printf(
        "RESULT stall_idle_ms=%.2f stall_first_model_fetch_ms=%.2f fetch_ms=%.1f "
        "interceptor_ms=%.3f\n",
        Median(idle), Median(fetching), Median(fetchMs), Median(intercepting));
    return 0;
}
