#include "ui/SkinZipReader.h"

#include "common/Logging.h"
#include "models/archive/Archive.h"

namespace vorn {

namespace {

QString Normalised(QString name) {
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    return name;
}

}  // namespace

std::optional<QByteArray> SkinZipReader::ReadEntry(const QByteArray& zip, const QString& name) {
    const QString wanted = Normalised(name);
    if (zip.isEmpty() || wanted.isEmpty())
        return std::nullopt;
    ArchiveHandle handle = ArchiveOpenMemory(zip.constData(), static_cast<size_t>(zip.size()));
    if (!handle) {
        qCDebug(lcUi) << "the skin archive is not a readable zip archive";
        return std::nullopt;
    }
    std::optional<QByteArray> result;
    ArchiveItem item;
    ArchiveGetItem(handle, -1, &item);
    const int count = item.index;
    for (int i = 0; i < count; ++i) {
        if (ArchiveGetItem(handle, i, &item) != ZR_OK || (item.attributes & 0x10))
            continue;
        const QString entry = Normalised(QString::fromStdU16String(item.name));
        if (entry.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        std::string bytes;
        const uint32_t rc = ArchiveReadItem(handle, i, &bytes);
        if (rc == ZR_OK)
            result = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
        else
            qCDebug(lcUi) << "skin archive entry" << entry << "unreadable, code" << Qt::hex << rc;
        break;
    }
    ArchiveClose(handle);
    return result;
}

}  // namespace vorn
