// The reference of the start-up benchmark, and the engine's floor for the stall benchmark: the
// least a Qt WebEngine program can do to show a page. A window with one view, maximised, loading
// the address it is given; none of the client's code or settings. What this machine needs for
// any engine program (no sandbox as root, no GPU under Xvfb) comes from the environment the
// benchmark sets, identical for both sides.
#include <QApplication>
#include <QWebEngineView>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const QUrl url(QString::fromLocal8Bit(argv[1]));
    int engineArgc = 1;
    QApplication app(engineArgc, argv);
    QWebEngineView view;
    view.load(url);
    view.showMaximized();
    return app.exec();
}
