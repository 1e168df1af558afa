#pragma once

// Small file helpers of the archive tests; IsLink never follows a link.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>

namespace ziptest {

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

inline bool IsLink(const std::filesystem::path& p) {
    struct stat st {};
    return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace ziptest
