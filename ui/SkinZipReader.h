#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vorn {

// Reads one entry of a skin archive held in memory, through the archive layer. Any thread.
class SkinZipReader {
public:
    // The bytes of the entry `name` of `zip`; names are compared without regard to case and with
    // "\" and "/" alike, as skin documents on Windows name them. std::nullopt when `zip` is not a
    // readable archive, has no such file entry, or the entry cannot be read in full.
    static std::optional<QByteArray> ReadEntry(const QByteArray& zip, const QString& name);
};

}  // namespace vorn
