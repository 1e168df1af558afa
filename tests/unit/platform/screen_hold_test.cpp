// What one look at the stacking order of a held screen decides: which windows go to the top, in
// which order, and when nothing needs to move (the look runs on every restack of any window, so
// a look that moves windows needlessly would set off another).
#include "platform/linux/ScreenHold_linux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;
using vorn::platform::x11::PlanRestack;
using vorn::platform::x11::StackedWindow;
using vorn::platform::x11::StackRole;

namespace {

constexpr std::uint32_t kExam = 0x400010;
constexpr std::uint32_t kCover = 0x40002c;
constexpr std::uint32_t kDialog = 0x400040;
constexpr std::uint32_t kPopup = 0x400050;
constexpr std::uint32_t kCandidates = 0x200002;
constexpr std::uint32_t kNotes = 0x600003;

const std::vector<std::uint32_t> kHeld = {kExam, kCover};

StackedWindow Held(std::uint32_t w) {
    return {w, StackRole::Held, true};
}
StackedWindow Own(std::uint32_t w, bool shown = true) {
    return {w, StackRole::Own, shown};
}
StackedWindow Candidates(bool shown = true) {
    return {kCandidates, StackRole::InputMethod, shown};
}
StackedWindow Other(std::uint32_t w) {
    return {w, StackRole::Other, false};
}

// Another program's window above a held one: everything goes to the top again, the exam first,
// then the covers, the client's shown dialogs and pop-ups (in their order), the input method's
// shown windows last; hidden windows are not moved.
TEST(PlanRestack, AnotherProgramAboveRaisesHeldThenOwnThenInputMethod) {
    const std::vector<StackedWindow> stack = {Candidates(),       Own(kDialog), Held(kExam),
                                              Own(kPopup, false), Held(kCover), Other(kNotes),
                                              Own(kPopup + 1)};
    EXPECT_THAT(PlanRestack(stack, kHeld),
                ElementsAre(kExam, kCover, kDialog, kPopup + 1, kCandidates));
    // Between the exam and a cover counts too: the cover is over another monitor.
    const std::vector<StackedWindow> between = {Held(kExam), Other(kNotes), Held(kCover)};
    EXPECT_THAT(PlanRestack(between, kHeld), ElementsAre(kExam, kCover));
}

// The steady state of a locked client writing Chinese in a dialog: nothing moves.
TEST(PlanRestack, OwnAndInputMethodWindowsAboveAndOthersBelowMoveNothing) {
    const std::vector<StackedWindow> stack = {Other(kNotes), Own(kPopup, false), Candidates(false),
                                              Held(kExam),   Held(kCover),       Own(kDialog),
                                              Candidates(),  Own(kPopup, false)};
    EXPECT_THAT(PlanRestack(stack, kHeld), IsEmpty());
}

// A dialog shown below the exam (mapped where it was stacked before) or the candidate list
// shown below it would be hidden: both are brought above.
TEST(PlanRestack, ShownOwnOrInputMethodWindowBelowIsBroughtAbove) {
    EXPECT_THAT(PlanRestack({Own(kDialog), Held(kExam), Held(kCover)}, kHeld),
                ElementsAre(kExam, kCover, kDialog));
    EXPECT_THAT(PlanRestack({Held(kExam), Candidates(), Held(kCover)}, kHeld),
                ElementsAre(kExam, kCover, kCandidates));
}

TEST(PlanRestack, NothingHeldInTheListMovesNothing) {
    EXPECT_THAT(PlanRestack({Other(kNotes), Own(kDialog)}, kHeld), IsEmpty());
}

}  // namespace
