#include "models/archive/ZipCipher.h"

#include <zlib.h>

namespace vorn::archive {

namespace {

uint32_t CrcStep(uint32_t crc, uint8_t c) {
    static const z_crc_t* const table = get_crc_table();
    return table[(crc ^ c) & 0xFF] ^ (crc >> 8);
}

}  // namespace

ZipCipher::ZipCipher(std::string_view password) {
    for (char c : password)
        Update(static_cast<uint8_t>(c));
}

void ZipCipher::Update(uint8_t plain) {
    m_k0 = CrcStep(m_k0, plain);
    m_k1 = (m_k1 + (m_k0 & 0xFF)) * 134775813u + 1;
    m_k2 = CrcStep(m_k2, static_cast<uint8_t>(m_k1 >> 24));
}

uint8_t ZipCipher::DecryptByte(uint8_t c) {
    const uint32_t t = (m_k2 | 2) & 0xFFFF;
    const auto plain = static_cast<uint8_t>(c ^ ((t * (t ^ 1)) >> 8));
    Update(plain);
    return plain;
}

bool ZipCipher::OpenHeader(const uint8_t (&header)[12], uint8_t checkByte) {
    uint8_t last = 0;
    for (uint8_t b : header)
        last = DecryptByte(b);
    return last == checkByte;
}

void ZipCipher::Decrypt(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        data[i] = DecryptByte(data[i]);
}

}  // namespace vorn::archive
