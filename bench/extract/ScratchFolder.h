#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

namespace vorn::bench {

// A scratch folder below the temporary folder, made on first use and removed with all it holds
// at exit. The path object is never destroyed, so the exit handler can still read it.
inline const std::filesystem::path& ScratchFolder(const char* prefix) {
    static const std::filesystem::path* const root = [prefix] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*root, ec);
        });
        return new std::filesystem::path(pattern);
    }();
    return *root;
}

}  // namespace vorn::bench
