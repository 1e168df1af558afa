#pragma once

// A focused window of the test on the thread that installs the keyboard hooks (their calls come
// through this thread's message loop, as in the client's main thread), and keys sent to it
// through SendInput, as a keyboard would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wintest {

using Chord = std::vector<WORD>;

// Swallowed while locked (the lock table).
extern const std::vector<Chord> kLockChords;
// Never swallowed by either table.
extern const std::vector<Chord> kOrdinaryKeys;
// Swallowed by the window table, locked or not.
extern const std::vector<Chord> kWindowChords;
// Swallowed only while locked.
extern const std::vector<Chord> kLockOnlyChords;

// Dispatches this thread's messages for `ms` milliseconds.
void Pump(DWORD ms);

std::string Name(const Chord& chord);

class KeyTestWindow : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Presses the keys in order, releases them in reverse; true when the last one reached the
    // window.
    bool Reaches(const Chord& chord);

    HWND window = nullptr;
};

}  // namespace wintest
