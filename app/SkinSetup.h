#pragma once

namespace vorn {

// Tells the UI layer where the skin lives and loads its index "res.xml": the folder
// "Skin/CEFBrowser/" beside the executable, or, when that folder is missing, the copy of the skin
// built into the executable, so the title bar never disappears. Main thread, once, before any
// window.
void SetupSkinResources();

}  // namespace vorn
