#pragma once

#include <string>

// The client key of this installation: the running executable, the skin folder
// "Skin/CEFBrowser/" beside it and config.ini's "Url" (vorn::ComputeClientKey). Needs a
// QCoreApplication; reads the files on the calling thread (measured in the benchmark
// bench/integrity). Empty, with a warning, when the executable cannot be read.
std::string ComputeInstalledClientKey();
