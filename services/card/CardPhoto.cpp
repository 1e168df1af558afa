#include "services/card/CardPhoto.h"

#include "common/Logging.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryFile>

#include <cstdio>

namespace vorn {
namespace {

// Without a new photo the old one must go: the page would otherwise show an earlier card's.
bool Fail(const QString& path) {
    if (QFile::exists(path) && !QFile::remove(path))
        qCWarning(lcCard) << "cannot remove the previous card photo" << path;
    return false;
}

}  // namespace

bool CardPhoto::Save(const unsigned char* data, int length, const QString& path) {
    if (!data || !UsableLength(length))
        return Fail(path);
    QImage image;
    if (!image.loadFromData(data, length)) {
        qCDebug(lcCard) << "card photo of" << length << "bytes does not decode";
        return Fail(path);
    }
    // Written beside the target and renamed over it, so the page never reads half a file and
    // never finds the path empty in between (the old photo stays until the new one replaces it).
    // Not synced to disk (unlike QSaveFile): the photo only matters while the client runs, and
    // a sync per cycle would cost more than the rest of the cycle together.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open()) {
        qCDebug(lcCard) << "cannot write card photo beside" << path << file.errorString();
        return Fail(path);
    }
    QImageWriter writer(&file, "jpeg");
    if (!writer.write(image) || !file.flush()) {
        qCDebug(lcCard) << "card photo not written:" << writer.errorString();
        return Fail(path);
    }
    // rename(2) replaces an existing target in one step (QFile::rename would refuse it).
    if (std::rename(QFile::encodeName(file.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0) {
        qCDebug(lcCard) << "cannot save card photo" << path;
        return Fail(path);
    }
    file.setAutoRemove(false);
    return true;
}

}  // namespace vorn
