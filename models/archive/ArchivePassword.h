#pragma once

#include <cstdint>
#include <string_view>

// The check of the traditional PKWARE encryption: minizip decrypts with any password it is
// given, so a wrong one is caught here, before garbage is written. Safe on any thread.
namespace vorn::archive {

// True when `password` decrypts the 12-byte encryption header so that its last byte equals
// `checkByte` (the CRC's high byte, or the DOS time's high byte for entries with a data
// descriptor). A wrong password passes with a chance of 1 in 256; the CRC check then fails.
bool PasswordMatches(std::string_view password, const uint8_t (&header)[12], uint8_t checkByte);

}  // namespace vorn::archive
