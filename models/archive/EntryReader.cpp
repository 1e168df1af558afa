#include "models/archive/EntryReader.h"

#include "models/archive/Archive.h"

#include <algorithm>

namespace vorn::archive {

namespace {
constexpr size_t kInputSize = 0x4000;
}

EntryReader::~EntryReader() {
    Close();
}

uint32_t EntryReader::Open(unzFile zip, const unz_file_info64& info, const std::string* password) {
    Close();
    const bool encrypted = info.flag & 1;
    if (encrypted && !password)
        return ZR_PASSWORD;
    if (unzOpenCurrentFile2(zip, nullptr, nullptr, 1) != UNZ_OK)
        return ZR_FLATE;
    m_zip = zip;
    m_failed = false;
    m_inputEnded = false;
    m_remaining = info.uncompressed_size;
    m_expectedCrc = static_cast<uint32_t>(info.crc);
    m_crc = 0;
    m_deflate = info.compression_method == Z_DEFLATED;
    if (encrypted) {
        uint8_t header[12];
        m_cipher.emplace(*password);
        if (FetchRaw(header, sizeof header) != static_cast<long>(sizeof header)) {
            Close();
            return ZR_FLATE;
        }
        // FetchRaw decrypted nothing yet: the cipher is applied to the header here.
        const auto check = static_cast<uint8_t>((info.flag & 8) ? (info.dosDate >> 8) & 0xFF
                                                                : (info.crc >> 24) & 0xFF);
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

// Raw stored bytes, as many as minizip has up to `size`, without decryption.
long EntryReader::FetchRaw(uint8_t* into, size_t size) {
    size_t done = 0;
    while (done < size) {
        const int n = unzReadCurrentFile(m_zip, into + done, static_cast<unsigned>(size - done));
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
}

long EntryReader::Read(uint8_t* out, size_t size) {
    if (!m_zip || m_failed)
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
        while (m_stream.avail_out > 0) {
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
            if (rc == Z_STREAM_END)
                break;
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

uint32_t EntryReader::Close() {
    if (!m_zip)
        return ZR_FLATE;
    const uint32_t result = (m_failed || m_remaining != 0) ? ZR_FLATE
                            : m_crc != m_expectedCrc       ? ZR_CRC
                                                           : ZR_OK;
    unzCloseCurrentFile(m_zip);
    m_zip = nullptr;
    if (m_inflating)
        inflateEnd(&m_stream);
    m_inflating = false;
    m_input.reset();
    m_cipher.reset();
    return result;
}

}  // namespace vorn::archive
