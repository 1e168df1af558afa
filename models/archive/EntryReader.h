#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <zlib.h>

#include "models/archive/ZipCipher.h"

// Streams the data of one entry straight from the archive's bytes: decrypts them when the
// entry is encrypted, inflates deflated ones, and checks that they give exactly the recorded
// size and CRC-32. Holds a 16 KiB input buffer while the entry is open. Used by the one thread
// that owns the archive handle.
namespace vorn::archive {

class ArchiveSource;

// Where an entry's data lies and what the central directory says of it (zip64 sizes applied).
struct EntryData {
    uint64_t start = 0;  // first byte after the local header
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc = 0;
    uint32_t dosDate = 0;
    uint16_t flag = 0;
    uint16_t method = 0;  // 0 stored or 8 deflate
};

class EntryReader {
public:
    EntryReader() = default;
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // `password` is null when the archive was opened without one. Returns ZR_OK, ZR_PASSWORD
    // (encrypted and missing or wrong) or ZR_FLATE (unreadable, or a stored entry whose two
    // sizes differ).
    uint32_t Open(ArchiveSource* source, const EntryData& data, const std::string* password);

    // Fills `out` with up to `size` bytes. Returns the count (> 0), 0 once the recorded size
    // has been delivered, or -1 when the data is damaged or ends early (then ZR_FLATE).
    long Read(uint8_t* out, size_t size);

    // ZR_OK when everything was delivered, the CRC-32 matches and a deflated entry ends right
    // there; ZR_CRC when the CRC differs; ZR_FLATE when the end was never reached or the data
    // inflates to more than the recorded size. Closes the entry.
    uint32_t Close();

private:
    long FetchRaw(uint8_t* into, size_t size);
    bool InflatesFurther();

    ArchiveSource* m_source = nullptr;
    uint64_t m_next = 0;          // archive offset of the next raw byte
    uint64_t m_rawRemaining = 0;  // raw bytes of the entry not yet fetched
    std::optional<ZipCipher> m_cipher;
    bool m_deflate = false;
    bool m_inflating = false;  // the z_stream is initialised
    bool m_inputEnded = false;
    bool m_streamEnded = false;
    bool m_failed = false;
    z_stream m_stream{};
    std::unique_ptr<uint8_t[]> m_input;
    uint64_t m_remaining = 0;
    uint32_t m_crc = 0, m_expectedCrc = 0;
};

}  // namespace vorn::archive
