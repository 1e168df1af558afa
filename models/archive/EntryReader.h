#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <unzip.h>

#include "models/archive/ZipCipher.h"

// Streams the data of one entry: minizip delivers the stored bytes (raw), this class decrypts
// them when the entry is encrypted, inflates deflated ones, and checks the length and CRC-32
// against the central record. Holds a 16 KiB input buffer while the entry is open. Used by
// the one thread that owns the archive handle.
namespace vorn::archive {

class EntryReader {
public:
    EntryReader() = default;
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // Opens the current entry of `zip` (described by `info`, method stored or deflate).
    // `password` is null when the archive was opened without one. Returns ZR_OK,
    // ZR_PASSWORD (encrypted and missing or wrong) or ZR_FLATE.
    uint32_t Open(unzFile zip, const unz_file_info64& info, const std::string* password);

    // Fills `out` with up to `size` bytes. Returns the count (> 0), 0 once the recorded size
    // has been delivered, or -1 when the data is damaged or ends early (then ZR_FLATE).
    long Read(uint8_t* out, size_t size);

    // ZR_OK when everything was delivered and the CRC-32 matches, ZR_CRC when it does not,
    // ZR_FLATE when the end was never reached. Closes the entry.
    uint32_t Close();

private:
    long FetchRaw(uint8_t* into, size_t size);

    unzFile m_zip = nullptr;
    std::optional<ZipCipher> m_cipher;
    bool m_deflate = false;
    bool m_inflating = false;  // the z_stream is initialised
    bool m_inputEnded = false;
    bool m_failed = false;
    z_stream m_stream{};
    std::unique_ptr<uint8_t[]> m_input;
    uint64_t m_remaining = 0;
    uint32_t m_crc = 0, m_expectedCrc = 0;
};

}  // namespace vorn::archive
