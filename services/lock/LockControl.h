#pragma once

// The application lock as the page's requests reach it. Standard C++ only, so that the page bridge
// and the lock steps build without a display.
namespace vorn {

// The page locks with LockApp("1") and unlocks with any other text: there are exactly two states.
enum class LockState { Unlocked, Locked };

// Implemented by whoever carries out the lock steps (the main window today). Main thread only.
class ILockControl {
public:
    virtual ~ILockControl() = default;

    // Asking for the state already in force carries out its steps again: a second LockApp("1")
    // re-takes the keyboard and the whole screen if anything slipped.
    virtual void SetLockState(LockState state) = 0;
    virtual LockState GetLockState() const = 0;
};

}  // namespace vorn
