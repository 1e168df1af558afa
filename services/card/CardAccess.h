#pragma once

#include "platform/CardLibrary.h"

#include <cstddef>

// How the card library is driven, in standard C++ only: the card reader's worker and the
// readiness check (also built for Windows) call the library the same way.
namespace vorn::card {

constexpr std::size_t kFieldCount = 15;
constexpr std::size_t kFieldUnits = 256;
// Zero-terminated UTF-16 texts of the card, at the card reader's indices (1 name, 2 sex,
// 3 nation, 4 birthday, 5 address, 6 id code, 7 issuing department, 8/9 validity start/end,
// 10 nation code, 11 photo path).
using CardFields = char16_t[kFieldCount][kFieldUnits];

// Opens the reader's port: port 0 searches 1001-1016 then 1-16; 1-16 and 1001-1016 are tried
// alone; any other port fails. The port that answered, 0 when none did or the library lacks
// what a reading needs (opening, authenticating, closing). Blocks for as long as the library.
int OpenPort(const platform::ICardLibrary::EntryPoints& api, int port);

// Copies a text of the library into a 256-unit field: up to its terminator, at most 255 units,
// never reading past the `units` the library was given, so an overlong or unterminated text is
// cut rather than overrun. A cut does not leave half a surrogate pair behind.
void CopyText(char16_t* field, const char16_t* text, std::size_t units);

// Reads the texts of the card the library has read (after CVR_Read_FPContent) into fields
// 1-10; entry points the library lacks leave their fields as they were. The validity period is
// read only when both of its ends can be.
void ReadTexts(const platform::ICardLibrary::EntryPoints& api, CardFields& fields);

}  // namespace vorn::card
