#pragma once

#include <string>

// Which file a piece of loaded code came from: a shared library finds the folder it was loaded
// from (and the files it keeps beside itself) whatever the program that loaded it. Standard
// library and the system's own loader only, so a library that stands in for another vendor's
// may link it and still need nothing of ours at run time.
namespace vorn::platform {

// The full path (UTF-8) of the program or shared library that holds the code at `code`, such as
// the address of one of its own functions; empty when the system cannot tell. Any thread.
std::string ModuleFileOf(const void* code);

}  // namespace vorn::platform
