#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The traditional PKWARE encryption of zip entries, decrypting side. The system's minizip is
// built without it, so encrypted entries are read raw and decrypted here. One object per open
// entry; not shared between threads.
namespace vorn::archive {

class ZipCipher {
public:
    explicit ZipCipher(std::string_view password);

    // Decrypts the 12-byte encryption header; true when its last byte equals `checkByte` (the
    // CRC's high byte, or the DOS time's high byte for entries with a data descriptor). A
    // wrong password passes with a chance of 1 in 256; the CRC check then catches it.
    bool OpenHeader(const uint8_t (&header)[12], uint8_t checkByte);

    // Decrypts the next `size` bytes of the entry's data in place.
    void Decrypt(uint8_t* data, size_t size);

private:
    uint8_t DecryptByte(uint8_t c);
    void Update(uint8_t plain);

    uint32_t m_k0 = 0x12345678, m_k1 = 0x23456789, m_k2 = 0x34567890;
};

}  // namespace vorn::archive
