#include "platform/win32/SmbiosTable_win.h"

#include <cstdint>
#include <vector>

namespace vorn::platform::win32 {
namespace {

constexpr size_t kHeaderBytes = 8;
constexpr unsigned char kBiosInformation = 0;
constexpr unsigned char kSystemInformation = 1;
constexpr unsigned char kBaseboardInformation = 2;
constexpr unsigned char kEndOfTable = 127;

// One structure: its formatted part and the strings after it (numbered from 1).
struct Structure {
    std::string_view formatted;
    std::vector<std::string_view> strings;

    unsigned char Byte(size_t offset) const {
        return offset < formatted.size() ? static_cast<unsigned char>(formatted[offset]) : 0;
    }
    // A string field: its byte holds the string's number, 0 for none.
    std::string Text(size_t offset) const {
        const unsigned number = Byte(offset);
        if (number == 0 || number > strings.size())
            return {};
        std::string_view text = strings[number - 1];
        text = text.substr(0, text.find_first_of("\r\n"));
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        return std::string(text);
    }
};

// The structure at the front of `table`, which is then moved past it; nothing at the end of the
// table or at a malformed structure.
std::optional<Structure> Next(std::string_view& table) {
    if (table.size() < 4)
        return std::nullopt;
    const size_t length = static_cast<unsigned char>(table[1]);
    if (length < 4 || length > table.size())
        return std::nullopt;
    Structure structure;
    structure.formatted = table.substr(0, length);
    // The string set ends with two NULs; a structure without strings has just the two NULs.
    const size_t end = table.find(std::string_view("\0\0", 2), length);
    if (end == std::string_view::npos)
        return std::nullopt;
    std::string_view strings = table.substr(length, end - length);
    while (!strings.empty()) {
        const size_t nul = strings.find('\0');
        structure.strings.push_back(strings.substr(0, nul));
        strings = nul == std::string_view::npos ? std::string_view() : strings.substr(nul + 1);
    }
    table.remove_prefix(end + 2);
    return structure;
}

}  // namespace

FirmwareIdentity ParseRawSmbios(std::string_view raw) {
    FirmwareIdentity identity;
    if (raw.size() < kHeaderBytes)
        return identity;
    std::uint32_t declared = 0;
    for (int i = 3; i >= 0; --i)
        declared = (declared << 8) | static_cast<unsigned char>(raw[4 + i]);
    std::string_view table = raw.substr(kHeaderBytes);
    if (declared < table.size())
        table = table.substr(0, declared);
    bool bios = false, system = false, board = false;
    while (auto structure = Next(table)) {
        const unsigned char type = structure->Byte(0);
        if (type == kEndOfTable)
            break;
        // The first structure of each kind describes the machine itself.
        if (type == kBiosInformation && !bios) {
            bios = true;
            identity.biosVendor = structure->Text(0x04);
            if (structure->formatted.size() > 0x13)
                identity.virtualMachineBit = (structure->Byte(0x13) & (1U << 4)) != 0;
        } else if (type == kSystemInformation && !system) {
            system = true;
            identity.systemVendor = structure->Text(0x04);
            identity.productName = structure->Text(0x05);
            identity.productVersion = structure->Text(0x06);
        } else if (type == kBaseboardInformation && !board) {
            board = true;
            identity.boardVendor = structure->Text(0x04);
        }
    }
    return identity;
}

}  // namespace vorn::platform::win32
