#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

namespace vorn {

// Reads the skin's files (documents and images) from wherever CPaintManagerUI says the skin
// lives: below the resource path (type 1) or inside the resource zip (type 4). Main thread.
class SkinFiles {
public:
    // Returns the bytes of the entry `name` of the archive `zip`, or std::nullopt when the archive
    // cannot be read or has no such entry.
    using ZipEntryReader =
        std::function<std::optional<QByteArray>(const QByteArray& zip, const QString& name)>;

    // Replaces the archive reader used for type 4 (the default reads zip archives itself).
    static void SetZipEntryReader(ZipEntryReader reader);

    // The bytes of the skin file `name` ("main.xml", "default/_A0_min.png"), or std::nullopt with
    // a sentence in *error (if given) saying what could not be read.
    static std::optional<QByteArray> Read(const QString& name, QString* error = nullptr);

    // Files larger than this are refused: no skin document or image comes near it. Only regular
    // files are read from the skin folder (no link followed, a FIFO or device refused).
    static constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;
};

}  // namespace vorn
