#pragma once

#include <cstdint>

namespace vorn {

// A single reading, or cycles repeated until the reading is stopped.
enum class CardMode { Once, Continuous };

// Which page a card reading belongs to: a new value each time the page moves to another origin.
using CardRequester = std::uint64_t;

}  // namespace vorn
