// The reference of the start-up benchmark, and the engine's floor for the stall benchmark: the
// least a Qt WebEngine program can do to show a page. A window with one view, maximised, loading
// the address it is given; none of the client's code or settings. What this machine needs for
// any engine program (no sandbox as root, no GPU under Xvfb) comes from the environment the
// benchmark sets, identical for both sides.
//
//   bare_view URL [STORAGE]
//
// With STORAGE the view uses a named profile keeping its cache and storage there, as the client's
// does (its pages keep cookies and local storage between starts); without it the engine's default
// profile, which keeps nothing on disk.
#include <QApplication>
#include <QWebEngineProfile>
#include <QWebEngineView>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const QUrl url(QString::fromLocal8Bit(argv[1]));
    int engineArgc = 1;
    QApplication app(engineArgc, argv);
    QWebEngineView view;
    if (argc > 2) {
        const QString storage = QString::fromLocal8Bit(argv[2]);
        auto* profile = new QWebEngineProfile(QStringLiteral("bare"), &app);
        profile->setCachePath(storage);
        profile->setPersistentStoragePath(storage + QStringLiteral("/storage"));
        view.setPage(new QWebEnginePage(profile, &view));
    }
    view.load(url);
    view.showMaximized();
    return app.exec();
}
