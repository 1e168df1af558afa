#pragma once

#include "common/CardMode.h"

#include <array>
#include <cstdint>
#include <memory>

namespace vorn {

// Fifteen zero-terminated UTF-16 fields of 256 code units each; the field indices are those
// of the card reader (1 name ... 11 photo path).
struct IdCardRecord {
    static constexpr int kFieldCount = 15;
    static constexpr int kFieldUnits = 256;
    char16_t fields[kFieldCount][kFieldUnits] = {};
};
static_assert(sizeof(IdCardRecord) == 7680, "the card record is a fixed 7,680-byte block");

// A zero-terminated UTF-16 failure text of at most 255 code units (a 512-byte block).
using CardErrorText = std::array<char16_t, 256>;
static_assert(sizeof(CardErrorText) == 512);

// What one cycle of a card reading found: the card's fields (the saved photo's path in field
// 11) or why it failed. Either may be absent, which the receiver treats as "nothing to answer".
// Made on the card worker, handed to the main thread, owned by whoever holds it.
struct CardResult {
    // Who asked for the reading: the token its start request carried (0 when none). Lets the
    // receiver drop answers meant for a page that is gone.
    CardRequester requester = 0;
    std::unique_ptr<IdCardRecord> record;  // set on success
    std::unique_ptr<CardErrorText> error;  // set on failure
};

}  // namespace vorn
