// The engine's floor for the start-up benchmark: a bare Qt WebEngine view loading one page, with
// the same switches the client uses and nothing else (no skin, no bridge, no services).
#include "browser/BrowserProfile.h"

#include <QApplication>
#include <QWebEngineView>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const QUrl url(QString::fromLocal8Bit(argv[1]));
    vorn::engine::PrepareEnvironment();
    int engineArgc = 1;
    QApplication app(engineArgc, argv);
    QWebEngineView view;
    view.resize(1270, 717);
    view.load(url);
    view.showMaximized();
    return app.exec();
}
