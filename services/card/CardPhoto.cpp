#include "services/card/CardPhoto.h"

#include "platform/Logging.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryFile>

namespace vorn {

bool CardPhoto::Save(const unsigned char* data, int length, const QString& path) {
    if (QFile::exists(path) && !QFile::remove(path))
        qCWarning(lcCard) << "cannot remove the previous card photo" << path;
    if (!data || !UsableLength(length))
        return false;
    QImage image;
    if (!image.loadFromData(data, length)) {
        qCDebug(lcCard) << "card photo of" << length << "bytes does not decode";
        return false;
    }
    // Written beside the target and renamed over it, so the page never reads half a file.
    // Not synced to disk (unlike QSaveFile): the photo only matters while the client runs, and
    // a sync per cycle would cost more than the rest of the cycle together.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open()) {
        qCDebug(lcCard) << "cannot write card photo beside" << path << file.errorString();
        return false;
    }
    QImageWriter writer(&file, "jpeg");
    if (!writer.write(image) || !file.flush()) {
        qCDebug(lcCard) << "card photo not written:" << writer.errorString();
        return false;
    }
    // Rename refuses an existing target; one may have appeared since the removal above.
    if (!file.rename(path) && !(QFile::remove(path) && file.rename(path))) {
        qCDebug(lcCard) << "cannot save card photo" << path << file.errorString();
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

}  // namespace vorn
