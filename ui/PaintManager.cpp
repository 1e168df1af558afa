#include "ui/PaintManager.h"

#include <QCoreApplication>
#include <QDir>

namespace vorn {

namespace {

struct Settings {
    QString instancePath;
    int resourceType = CPaintManagerUI::kResourceFile;
    QString resourcePath;
    QByteArray zip;
};

Settings& State() {
    static Settings s;
    return s;
}

QString WithSlash(const QString& folder) {
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

}  // namespace

void CPaintManagerUI::SetInstancePath(const QString& folder) {
    State().instancePath = WithSlash(QDir::fromNativeSeparators(folder));
}

QString CPaintManagerUI::GetInstancePath() {
    if (State().instancePath.isEmpty() && QCoreApplication::instance())
        State().instancePath = WithSlash(QCoreApplication::applicationDirPath());
    return State().instancePath;
}

void CPaintManagerUI::SetResourceType(int type) {
    State().resourceType = type;
}

int CPaintManagerUI::GetResourceType() {
    return State().resourceType;
}

void CPaintManagerUI::SetResourcePath(const QString& path) {
    // The skin folder is named with a backslash in Windows-style callers ("Skin\CEFBrowser\").
    QString p = QDir::fromNativeSeparators(path);
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!p.isEmpty() && QDir::isRelativePath(p))
        p = GetInstancePath() + p;
    State().resourcePath = WithSlash(p);
}

QString CPaintManagerUI::GetResourcePath() {
    return State().resourcePath;
}

void CPaintManagerUI::SetResourceZip(const QByteArray& zipBytes) {
    State().zip = zipBytes;
}

QByteArray CPaintManagerUI::GetResourceZip() {
    return State().zip;
}

}  // namespace vorn
