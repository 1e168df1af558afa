#include "platform/linux/KeyGrabs_linux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>

using namespace vorn::platform::keys;

namespace {

constexpr std::uint16_t kShiftMask = 1 << 0, kLockMask = 1 << 1, kControlMask = 1 << 2,
                        kMod1 = 1 << 3, kMod2 = 1 << 4, kMod4 = 1 << 6, kMod5 = 1 << 7;

ModifierMasks UsualMasks() {
    ModifierMasks m;
    m.shift = kShiftMask;
    m.control = kControlMask;
    m.alt = kMod1;
    m.super = kMod4;
    m.capsLock = kLockMask;
    m.numLock = kMod2;
    return m;
}

const unsigned kAllModifierSets[] = {0,
                                     kShift,
                                     kControl,
                                     kAlt,
                                     kSuper,
                                     kShift | kControl,
                                     kShift | kAlt,
                                     kControl | kAlt,
                                     kShift | kControl | kAlt | kSuper};

}  // namespace

TEST(KeyChords, LockTableDropsTheTaskSwitchingCombinations) {
    EXPECT_TRUE(IsLockFilterChord(Key::Escape, kControl));
    EXPECT_TRUE(IsLockFilterChord(Key::Escape, kControl | kShift));
    EXPECT_TRUE(IsLockFilterChord(Key::Escape, kAlt));
    EXPECT_TRUE(IsLockFilterChord(Key::Tab, kAlt));
    EXPECT_TRUE(IsLockFilterChord(Key::Tab, kAlt | kShift));
    EXPECT_TRUE(IsLockFilterChord(Key::F4, kAlt));
    for (unsigned mods : kAllModifierSets) {
        EXPECT_TRUE(IsLockFilterChord(Key::SuperL, mods)) << mods;
        EXPECT_TRUE(IsLockFilterChord(Key::SuperR, mods)) << mods;
    }
}

TEST(KeyChords, LockTableLetsOrdinaryKeysReachThePage) {
    // Typing an exam answer needs Escape, Tab (and Shift+Tab between fields), F4 and Ctrl+Tab.
    EXPECT_FALSE(IsLockFilterChord(Key::Escape, 0));
    EXPECT_FALSE(IsLockFilterChord(Key::Escape, kShift));
    EXPECT_FALSE(IsLockFilterChord(Key::Tab, 0));
    EXPECT_FALSE(IsLockFilterChord(Key::Tab, kShift));
    EXPECT_FALSE(IsLockFilterChord(Key::Tab, kControl));
    EXPECT_FALSE(IsLockFilterChord(Key::F4, 0));
    EXPECT_FALSE(IsLockFilterChord(Key::F4, kControl));
    for (unsigned mods : kAllModifierSets)
        EXPECT_FALSE(IsLockFilterChord(Key::Other, mods)) << mods;
}

TEST(KeyChords, WindowTableBlocksOnlyTheSwitcherAndSuperKeys) {
    EXPECT_TRUE(IsWindowFilterChord(Key::Tab, kAlt));
    EXPECT_TRUE(IsWindowFilterChord(Key::Tab, kAlt | kShift));
    EXPECT_TRUE(IsWindowFilterChord(Key::SuperL, 0));
    EXPECT_TRUE(IsWindowFilterChord(Key::SuperR, kShift));
    // While unlocked these keep working.
    EXPECT_FALSE(IsWindowFilterChord(Key::Escape, kAlt));
    EXPECT_FALSE(IsWindowFilterChord(Key::Escape, kControl));
    EXPECT_FALSE(IsWindowFilterChord(Key::Escape, kControl | kShift));
    EXPECT_FALSE(IsWindowFilterChord(Key::F4, kAlt));
    EXPECT_FALSE(IsWindowFilterChord(Key::Tab, 0));
    EXPECT_FALSE(IsWindowFilterChord(Key::Tab, kControl));
}

TEST(KeyChords, LockModifierCombinationsIgnoreUnboundAndSharedModifiers) {
    using V = std::vector<std::uint16_t>;
    EXPECT_EQ(MaskCombinations({}), V{0});
    // ScrollLock bound to no modifier, as in the usual keymaps.
    EXPECT_EQ(MaskCombinations({kLockMask, kMod2, 0}), (V{0, kLockMask, kMod2, kLockMask | kMod2}));
    // NumLock and ScrollLock sharing a modifier do not double the grabs.
    EXPECT_EQ(MaskCombinations({kLockMask, kMod2, kMod2}).size(), 4u);
    const V three = MaskCombinations({kLockMask, kMod2, kMod5});
    EXPECT_EQ(three.size(), 8u);
    EXPECT_EQ(std::set<std::uint16_t>(three.begin(), three.end()).size(), 8u);
    EXPECT_NE(std::find(three.begin(), three.end(), kLockMask | kMod2 | kMod5), three.end());
}

TEST(KeyChords, PassiveGrabsCoverEveryStateInWhichAChordCounts) {
    const ModifierMasks m = UsualMasks();
    const std::vector<Grab> grabs = WindowFilterGrabs(m);
    std::set<std::pair<Key, std::uint16_t>> set;
    for (const Grab& g : grabs)
        EXPECT_TRUE(set.insert({g.key, g.mods}).second) << "duplicate grab";

    // Alt+Tab under Shift/Control and the 4 lock states; never without Alt.
    std::size_t tabs = 0;
    for (const Grab& g : grabs)
        if (g.key == Key::Tab) {
            ++tabs;
            EXPECT_TRUE(g.mods & kMod1);
        }
    EXPECT_EQ(tabs, 4u * 4u);
    EXPECT_TRUE(set.count({Key::Tab, kMod1}));
    EXPECT_TRUE(set.count({Key::Tab, kMod1 | kShiftMask | kLockMask | kMod2}));
    EXPECT_FALSE(set.count({Key::Tab, 0}));

    // Each Super key under all 16 modifier sets and the 4 lock states.
    for (Key key : {Key::SuperL, Key::SuperR}) {
        EXPECT_EQ(std::count_if(grabs.begin(), grabs.end(),
                                [key](const Grab& g) { return g.key == key; }),
                  16 * 4);
        EXPECT_TRUE(set.count({key, 0}));
        EXPECT_TRUE(set.count({key, kMod2}));
        EXPECT_TRUE(
            set.count({key, kMod4 | kShiftMask | kControlMask | kMod1 | kLockMask | kMod2}));
    }

    // Without an Alt modifier there is no Alt+Tab to grab, and nothing is grabbed bare.
    ModifierMasks noAlt = m;
    noAlt.alt = 0;
    for (const Grab& g : WindowFilterGrabs(noAlt))
        EXPECT_NE(g.key, Key::Tab);
}

TEST(KeyChords, ModifierMappingResolvesTheRowOfAKey) {
    // 8 rows of 2 key codes: Shift, Lock, Control, Mod1 (Alt_L 64, Meta 205), Mod2 (Num 77),
    // Mod3 (empty), Mod4 (Super 133, 134), Mod5.
    const std::array<std::uint8_t, 16> rows = {50, 62, 66, 0, 37,  105, 64, 205,
                                               77, 0,  0,  0, 133, 134, 92, 0};
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {64}), kMod1);
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {205}), kMod1);
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {77}), kMod2);
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {134}), kMod4);
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {78}), 0);  // Scroll_Lock bound nowhere
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {}), 0);
    // The empty slots of the mapping are no key.
    EXPECT_EQ(ModifierMaskHolding(rows.data(), 2, {0}), 0);
}

TEST(KeyChords, StateTranslationIgnoresLockModifiers) {
    const ModifierMasks m = UsualMasks();
    EXPECT_EQ(ModifiersOf(kMod1 | kMod2 | kLockMask, m), unsigned{kAlt});
    EXPECT_EQ(ModifiersOf(kControlMask | kShiftMask, m), unsigned{kControl | kShift});
    EXPECT_EQ(ModifiersOf(kMod4, m), unsigned{kSuper});
    ModifierMasks noSuper = m;
    noSuper.super = 0;
    EXPECT_EQ(ModifiersOf(kMod4 | kMod5, noSuper), 0u);
}
