#pragma once

#include "platform/KeyChords.h"

#include <cstdint>
#include <vector>

// The X11 side of the key chords: modifier masks as the display binds them and the passive grabs
// the window filter needs. Pure, so the tables are tested without a display.
namespace vorn::platform::keys {

// Every OR-combination of the given modifier masks, the empty one first, without duplicates. Zero
// masks (a lock key not bound to any modifier) and masks equal to an earlier one are ignored, so
// NumLock and ScrollLock sharing a modifier give four combinations, not eight.
inline std::vector<std::uint16_t> MaskCombinations(const std::vector<std::uint16_t>& masks) {
    std::vector<std::uint16_t> distinct;
    for (std::uint16_t m : masks) {
        bool seen = m == 0;
        for (std::uint16_t d : distinct)
            seen = seen || d == m;
        if (!seen)
            distinct.push_back(m);
    }
    std::vector<std::uint16_t> out;
    for (unsigned subset = 0; subset < (1u << distinct.size()); ++subset) {
        std::uint16_t combined = 0;
        for (std::size_t i = 0; i < distinct.size(); ++i)
            if (subset & (1u << i))
                combined |= distinct[i];
        bool seen = false;
        for (std::uint16_t o : out)
            seen = seen || o == combined;
        if (!seen)
            out.push_back(combined);
    }
    return out;
}

// A key together with the exact modifier state under which a passive grab must be placed.
struct Grab {
    Key key;
    std::uint16_t mods;
};

// The modifier masks of the display, as its modifier mapping binds them.
struct ModifierMasks {
    std::uint16_t shift = 0;
    std::uint16_t control = 0;
    std::uint16_t alt = 0;
    std::uint16_t super = 0;
    std::uint16_t capsLock = 0;
    std::uint16_t numLock = 0;
    std::uint16_t scrollLock = 0;
};

// A passive grab matches one exact modifier state, so the window filter needs one grab per state
// in which its chord counts: Alt+Tab under Shift/Control, the Super keys under any modifier, each
// of those under every combination of the lock modifiers. With Alt unmapped Alt+Tab is left out.
inline std::vector<Grab> WindowFilterGrabs(const ModifierMasks& m) {
    std::vector<Grab> grabs;
    const std::vector<std::uint16_t> locks =
        MaskCombinations({m.capsLock, m.numLock, m.scrollLock});
    if (m.alt != 0) {
        for (std::uint16_t extra : MaskCombinations({m.shift, m.control}))
            for (std::uint16_t lock : locks)
                grabs.push_back({Key::Tab, static_cast<std::uint16_t>(m.alt | extra | lock)});
    }
    for (Key key : {Key::SuperL, Key::SuperR})
        for (std::uint16_t extra : MaskCombinations({m.shift, m.control, m.alt, m.super}))
            for (std::uint16_t lock : locks)
                grabs.push_back({key, static_cast<std::uint16_t>(extra | lock)});
    return grabs;
}

// The modifier bit whose row of a modifier mapping (8 rows of `perRow` key codes, as the X
// protocol reports it) holds one of `keycodes`; 0 when none does.
inline std::uint16_t ModifierMaskHolding(const std::uint8_t* rows,
                                         int perRow,
                                         const std::vector<std::uint8_t>& keycodes) {
    for (int row = 0; row < 8; ++row)
        for (int i = 0; i < perRow; ++i) {
            const std::uint8_t code = rows[row * perRow + i];
            if (code == 0)
                continue;
            for (std::uint8_t k : keycodes)
                if (k == code)
                    return static_cast<std::uint16_t>(1u << row);
        }
    return 0;
}

// Translates a display's modifier state into the abstract Modifier flags.
inline unsigned ModifiersOf(std::uint16_t state, const ModifierMasks& m) {
    unsigned mods = 0;
    if (m.shift && (state & m.shift))
        mods |= kShift;
    if (m.control && (state & m.control))
        mods |= kControl;
    if (m.alt && (state & m.alt))
        mods |= kAlt;
    if (m.super && (state & m.super))
        mods |= kSuper;
    return mods;
}

}  // namespace vorn::platform::keys
