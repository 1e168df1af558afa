#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// What the client reads from the model version document "modelVer.json".
struct VersionDocument {
    int modelVer = 0;         // absent or null: 0
    std::string downloadUrl;  // absent or null: empty
};

// Pure; any thread. Reads the document's text (JSON object, comments allowed and ignored).
// "modelVer": integers as they are, reals truncated toward zero, true/false as 1/0. "downloadUrl":
// text, numbers and booleans as their text. Returns nothing - the run ends - when the text is
// not JSON, the root is not an object, "modelVer" is text, an array, an object or outside the
// signed 32-bit range, or "downloadUrl" is an array or an object. Never throws.
std::optional<VersionDocument> ParseVersionDocument(std::string_view text);

}  // namespace vorn
