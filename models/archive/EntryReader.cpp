#include "models/archive/EntryReader.h"

#include "models/archive/Archive.h"
#include "models/archive/ArchiveSource.h"

#include <algorithm>

namespace vorn::archive {

namespace {
constexpr size_t kInputSize = 0x4000;
constexpr uint64_t kCipherHeader = 12;
}  // namespace

EntryReader::~EntryReader() {
    Close();
}

uint32_t EntryReader::Open(ArchiveSource* source,
                           const EntryData& data,
                           const std::string* password) {
    Close();
    const bool encrypted = data.flag & 1;
    if (encrypted && !password)
        return ZR_PASSWORD;
    m_source = source;
    m_next = data.start;
    m_rawRemaining = data.compressedSize;
    m_failed = false;
    m_inputEnded = false;
    m_streamEnded = false;
    m_remaining = data.uncompressedSize;
    m_expectedCrc = data.crc;
    m_crc = 0;
    m_deflate = data.method == Z_DEFLATED;
    // A stored entry's data is its content: two different sizes cannot both be true.
    if (!m_deflate &&
        data.compressedSize != data.uncompressedSize + (encrypted ? kCipherHeader : 0)) {
        Close();
        return ZR_FLATE;
    }
    if (encrypted) {
        uint8_t header[kCipherHeader];
        m_cipher.emplace(*password);
        if (FetchRaw(header, sizeof header) != static_cast<long>(sizeof header)) {
            Close();
            return ZR_FLATE;
        }
        // FetchRaw decrypted nothing yet: the cipher is applied to the header here.
        const auto check = static_cast<uint8_t>((data.flag & 8) ? (data.dosDate >> 8) & 0xFF
                                                                : (data.crc >> 24) & 0xFF);
        if (!m_cipher->OpenHeader(header, check)) {
            Close();
            return ZR_PASSWORD;
        }
    }
    if (m_deflate) {
        m_stream = z_stream{};
        if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK) {
            Close();
            return ZR_FLATE;
        }
        m_inflating = true;
        m_input = std::make_unique<uint8_t[]>(kInputSize);
    }
    return ZR_OK;
}

// Raw stored bytes, as many as the entry still has up to `size`, without decryption.
long EntryReader::FetchRaw(uint8_t* into, size_t size) {
    size = static_cast<size_t>(std::min<uint64_t>(size, m_rawRemaining));
    if (size == 0)
        return 0;
    const long n = m_source->ReadAt(m_next, into, size);
    if (n > 0) {
        m_next += static_cast<uint64_t>(n);
        m_rawRemaining -= static_cast<uint64_t>(n);
    }
    return n;
}

long EntryReader::Read(uint8_t* out, size_t size) {
    if (!m_source || m_failed)
        return -1;
    if (m_remaining == 0)
        return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, m_remaining));
    long produced = 0;
    if (!m_deflate) {
        produced = FetchRaw(out, size);
        if (produced > 0 && m_cipher)
            m_cipher->Decrypt(out, static_cast<size_t>(produced));
    } else {
        m_stream.next_out = out;
        m_stream.avail_out = static_cast<uInt>(size);
        while (m_stream.avail_out > 0 && !m_streamEnded) {
            if (m_stream.avail_in == 0 && !m_inputEnded) {
                const long got = FetchRaw(m_input.get(), kInputSize);
                if (got < 0) {
                    m_failed = true;
                    return -1;
                }
                if (got == 0)
                    m_inputEnded = true;
                if (got > 0 && m_cipher)
                    m_cipher->Decrypt(m_input.get(), static_cast<size_t>(got));
                m_stream.next_in = m_input.get();
                m_stream.avail_in = static_cast<uInt>(got);
            }
            const uInt before = m_stream.avail_out;
            const int rc = inflate(&m_stream, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                m_streamEnded = true;
                break;
            }
            // Z_BUF_ERROR only means "no progress possible": input exhausted.
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                m_failed = true;
                return -1;
            }
            if (m_stream.avail_out == before && m_stream.avail_in == 0 && m_inputEnded)
                break;
        }
        produced = static_cast<long>(size - m_stream.avail_out);
    }
    if (produced <= 0) {
        m_failed = true;
        return -1;
    }
    m_crc = static_cast<uint32_t>(crc32(m_crc, out, static_cast<uInt>(produced)));
    m_remaining -= static_cast<uint64_t>(produced);
    return produced;
}

// After the recorded size was delivered: true when the deflate stream holds more data (the
// recorded size understates the content) or never comes to its end.
bool EntryReader::InflatesFurther() {
    uint8_t probe[64];
    while (!m_streamEnded) {
        if (m_stream.avail_in == 0 && !m_inputEnded) {
            const long got = FetchRaw(m_input.get(), kInputSize);
            if (got <= 0)
                m_inputEnded = true;
            else if (m_cipher)
                m_cipher->Decrypt(m_input.get(), static_cast<size_t>(got));
            m_stream.next_in = m_input.get();
            m_stream.avail_in = static_cast<uInt>(got > 0 ? got : 0);
        }
        m_stream.next_out = probe;
        m_stream.avail_out = sizeof probe;
        const int rc = inflate(&m_stream, Z_NO_FLUSH);
        if (m_stream.avail_out != sizeof probe)
            return true;
        if (rc == Z_STREAM_END)
            m_streamEnded = true;
        else if ((rc != Z_OK && rc != Z_BUF_ERROR) || (m_stream.avail_in == 0 && m_inputEnded))
            return true;
    }
    return false;
}

uint32_t EntryReader::Close() {
    if (!m_source)
        return ZR_FLATE;
    uint32_t result = (m_failed || m_remaining != 0) ? ZR_FLATE
                      : m_crc != m_expectedCrc       ? ZR_CRC
                                                     : ZR_OK;
    if (result == ZR_OK && m_deflate && InflatesFurther())
        result = ZR_FLATE;
    m_source = nullptr;
    if (m_inflating)
        inflateEnd(&m_stream);
    m_inflating = false;
    m_input.reset();
    m_cipher.reset();
    return result;
}

}  // namespace vorn::archive
