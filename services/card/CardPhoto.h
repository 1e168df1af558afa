#pragma once

#include <QString>

namespace vorn {

// The card's photo as the library hands it over: the bytes of an image file (BMP as a rule,
// any format Qt's codecs read), written to disk as a JPEG for the page.
class CardPhoto {
public:
    static constexpr int kBufferSize = 40960;

    // Whether `length` (as the library reported it) describes image data in a kBufferSize
    // buffer; anything else means the card has no photo.
    static bool UsableLength(int length) { return length > 0 && length <= kBufferSize; }

    // Any thread (one at a time per path). Decodes `length` bytes and saves them at `path` as a
    // JPEG, replacing the previous photo in one step. Returns false when the data does not
    // decode or the file cannot be written; the previous photo is removed then, so a page never
    // shows an earlier card's photo.
    static bool Save(const unsigned char* data, int length, const QString& path);
};

}  // namespace vorn
