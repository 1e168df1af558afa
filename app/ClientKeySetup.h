#pragma once

#include "services/integrity/ClientKey.h"

#include <future>
#include <string>

namespace vorn {

class CGlobal;

// What the client key of this installation covers: the running executable, the skin folder
// "Skin/CEFBrowser/" beside it and config.ini's "Url" as `settings` give them. Main thread, with a
// QCoreApplication.
vorn::ClientKeyInputs InstalledClientKeyInputs(const CGlobal& settings);

// vorn::ComputeClientKey over `inputs`; empty, with a warning, when the executable cannot be
// read. Any thread; reads every file once (about 20 ms of CPU for a 22 MB executable, see
// bench/integrity).
std::string ComputeInstalledClientKey(const vorn::ClientKeyInputs& inputs);

// Starts ComputeInstalledClientKey on a worker so that start-up goes on meanwhile; the first
// page request waits for it. When no worker can be started it is computed here and now.
std::shared_future<std::string> StartInstalledClientKey(const CGlobal& settings);

}  // namespace vorn
