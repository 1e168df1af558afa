#include "ui/SkinFiles.h"

#include "common/Logging.h"
#include "platform/RegularFile.h"
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
    // The skin ships as plain files: a link, FIFO or device under a skin file's name is not
    // ours, and must neither redirect the read nor stall the start-up.
    const std::string nativePath = QFile::encodeName(path).toStdString();
    platform::FileReadError why = platform::FileReadError::None;
    const std::optional<std::string> content =
        platform::ReadRegularFile(nativePath, kMaxFileSize, platform::LinkPolicy::Refuse, &why);
    if (!content) {
        SetError(error, QStringLiteral("The skin file %1")
                            .arg(QString::fromStdString(
                                platform::DescribeFileReadError(why, nativePath, kMaxFileSize))));
        return std::nullopt;
    }
    QByteArray bytes(content->data(), static_cast<qsizetype>(content->size()));
    qCDebug(lcUi) << "read skin file" << path << bytes.size() << "bytes";
    return bytes;
}

}  // namespace vorn
