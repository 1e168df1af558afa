#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn::platform::win32 {

// What the firmware's SMBIOS table says about the machine, as far as telling a virtual machine
// from real hardware needs it. Empty strings where the table has none.
struct FirmwareIdentity {
    std::string productName;     // system information (type 1)
    std::string systemVendor;    // type 1 manufacturer
    std::string boardVendor;     // baseboard (type 2) manufacturer
    std::string biosVendor;      // BIOS information (type 0)
    std::string productVersion;  // type 1 version
    // BIOS characteristics extension byte 2, bit 4 ("virtual machine"); nothing when the BIOS
    // structure is too short to carry it.
    std::optional<bool> virtualMachineBit;
};

// Reads GetSystemFirmwareTable('RSMB')'s answer: an 8-byte header (calling method, version,
// length of the table) and the structures. Every length and string number in it is checked
// against the data: a short or malformed table gives what could be read before the fault.
FirmwareIdentity ParseRawSmbios(std::string_view raw);

}  // namespace vorn::platform::win32
