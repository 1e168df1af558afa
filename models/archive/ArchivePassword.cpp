#include "models/archive/ArchivePassword.h"

#include <zlib.h>

namespace vorn::archive {

namespace {

struct Keys {
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    const z_crc_t* table = get_crc_table();

    uint32_t CrcStep(uint32_t crc, uint8_t c) const { return table[(crc ^ c) & 0xFF] ^ (crc >> 8); }
    void Update(uint8_t c) {
        k0 = CrcStep(k0, c);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = CrcStep(k2, static_cast<uint8_t>(k1 >> 24));
    }
    uint8_t Decrypt(uint8_t c) {
        const uint32_t t = (k2 | 2) & 0xFFFF;
        const auto plain = static_cast<uint8_t>(c ^ ((t * (t ^ 1)) >> 8));
        Update(plain);
        return plain;
    }
};

}  // namespace

bool PasswordMatches(std::string_view password, const uint8_t (&header)[12], uint8_t checkByte) {
    Keys keys;
    for (char c : password)
        keys.Update(static_cast<uint8_t>(c));
    uint8_t last = 0;
    for (uint8_t b : header)
        last = keys.Decrypt(b);
    return last == checkByte;
}

}  // namespace vorn::archive
