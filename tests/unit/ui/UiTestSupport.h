#pragma once

#include "ui/PaintManager.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Shared by the skin tests: a QApplication for the whole test program, the source tree's skin
// folder, and a capture of the warnings the UI layer logs.
namespace uitest {

class QtApp : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "ui_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            m_app = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

inline QString SourceSkinDir() {
    return qEnvironmentVariable("VORN_SOURCE_DIR") + QStringLiteral("/skin/");
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray EmbeddedSkinZip() {
    return ReadFile(QStringLiteral(":/vorn/skin.zip"));
}

// Points the UI layer at the skin files below `folder`.
inline void UseSkinFolder(const QString& folder) {
    vorn::CPaintManagerUI::SetResourceType(vorn::CPaintManagerUI::kResourceFile);
    vorn::CPaintManagerUI::SetResourcePath(folder);
    vorn::CPaintManagerUI::SetResourceZip(QByteArray());
}

// Collects the "vorn.ui" warnings logged while it lives.
class WarningCapture {
public:
    WarningCapture() {
        Current() = this;
        m_previous = qInstallMessageHandler(&Handler);
    }
    ~WarningCapture() {
        qInstallMessageHandler(m_previous);
        Current() = nullptr;
    }
    QStringList Messages() const { return m_messages; }

private:
    static WarningCapture*& Current() {
        static WarningCapture* current = nullptr;
        return current;
    }
    static void Handler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
        if (Current() && type == QtWarningMsg && context.category &&
            QByteArray(context.category) == "vorn.ui")
            Current()->m_messages.append(msg);
    }
    QtMessageHandler m_previous = nullptr;
    QStringList m_messages;
};

}  // namespace uitest
