#include "app/SkinSetup.h"

#include "common/Logging.h"
#include "ui/PaintManager.h"
#include "ui/ResourceManager.h"

#include <QDir>
#include <QFile>

namespace vorn {

namespace {

constexpr int kResourceFiles = 1;
constexpr int kResourceZip = 4;

QByteArray BuiltInSkinZip() {
    QFile zip(QStringLiteral(":/vorn/skin.zip"));
    return zip.open(QIODevice::ReadOnly) ? zip.readAll() : QByteArray();
}

}  // namespace

void SetupSkinResources() {
    CPaintManagerUI::SetResourceType(kResourceFiles);
    const QString skinFolder =
        CPaintManagerUI::GetInstancePath() + QStringLiteral("Skin/CEFBrowser/");
    if (!QFile::exists(skinFolder + QStringLiteral("res.xml"))) {
        const QByteArray zip = BuiltInSkinZip();
        if (!zip.isEmpty()) {
            qCWarning(lcUi, "The skin folder %s is missing; using the skin built into the client.",
                      qPrintable(QDir::toNativeSeparators(skinFolder)));
            CPaintManagerUI::SetResourceType(kResourceZip);
        }
    }
    switch (CPaintManagerUI::GetResourceType()) {
        case kResourceFiles:
            CPaintManagerUI::SetResourcePath(skinFolder);
            CResourceManager::GetInstance().LoadResource(QStringLiteral("res.xml"));
            break;
        case kResourceZip:
            CPaintManagerUI::SetResourcePath(skinFolder);
            CPaintManagerUI::SetResourceZip(BuiltInSkinZip());
            CResourceManager::GetInstance().LoadResource(QStringLiteral("res.xml"));
            break;
        default:
            break;
    }
}

}  // namespace vorn
