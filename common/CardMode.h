#pragma once

namespace vorn {

// A single reading, or cycles repeated until the reading is stopped.
enum class CardMode { Once, Continuous };

}  // namespace vorn
