#include "services/card/CardPhoto.h"

#include "platform/Logging.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCDebug(lcCard) << "cannot write card photo" << path << file.errorString();
        return false;
    }
    QImageWriter writer(&file, "jpeg");
    if (!writer.write(image)) {
        qCDebug(lcCard) << "card photo not encoded:" << writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCDebug(lcCard) << "cannot save card photo" << path << file.errorString();
        return false;
    }
    return true;
}

}  // namespace vorn
