#pragma once

#include "platform/CardLibrary.h"

#include <functional>
#include <string>

namespace vorn::platform {

// The system's own loader, what CreateCardLibrary() hands out. Each system's file defines its
// methods: platform/linux/ (dlopen), platform/win32/ (LoadLibraryExW).
class SystemCardLibrary final : public ICardLibrary {
public:
    std::string FileName() const override;
    EntryPoints Load(const std::string& folder) const override;
};

// The entry points of a loaded library, in the order of EntryPoints, each through `lookup` (the
// system's look-up of an exported name: its address, or null when the library lacks it) under
// its plain name, else under its two decorated names (ICardLibrary::Load). Logs every one that
// is missing.
ICardLibrary::EntryPoints ResolveCardEntryPoints(const std::function<void*(const char*)>& lookup);

}  // namespace vorn::platform
