#include "ui/SkinFiles.h"

#include "platform/Logging.h"
#include "ui/PaintManager.h"
#include "ui/SkinZipReader.h"

#include <QFile>

namespace vorn {

namespace {

SkinFiles::ZipEntryReader& ZipReader() {
    static SkinFiles::ZipEntryReader reader = &SkinZipReader::ReadEntry;
    return reader;
}

void SetError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

}  // namespace

void SkinFiles::SetZipEntryReader(ZipEntryReader reader) {
    ZipReader() = std::move(reader);
}

std::optional<QByteArray> SkinFiles::Read(const QString& name, QString* error) {
    const int type = CPaintManagerUI::GetResourceType();
    if (type == CPaintManagerUI::kResourceZip) {
        const QByteArray zip = CPaintManagerUI::GetResourceZip();
        if (zip.isEmpty()) {
            SetError(error, QStringLiteral("The skin archive was not given to the client."));
            return std::nullopt;
        }
        std::optional<QByteArray> bytes;
        if (ZipReader())
            bytes = ZipReader()(zip, name);
        if (!bytes)
            SetError(error, QStringLiteral("The skin archive holds no readable \"%1\".").arg(name));
        return bytes;
    }
    if (type != CPaintManagerUI::kResourceFile) {
        SetError(error, QStringLiteral("The skin resource type %1 is not supported.").arg(type));
        return std::nullopt;
    }
    const QString path = CPaintManagerUI::GetResourcePath() + name;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SetError(error, QStringLiteral("The skin file \"%1\" cannot be read: %2.")
                            .arg(path, file.errorString()));
        return std::nullopt;
    }
    if (file.size() > kMaxFileSize) {
        SetError(error, QStringLiteral("The skin file \"%1\" is too large.").arg(path));
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    qCDebug(lcUi) << "read skin file" << path << bytes.size() << "bytes";
    return bytes;
}

}  // namespace vorn
