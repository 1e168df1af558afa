#pragma once

// A fresh temporary folder for one test, removed with everything in it afterwards, and small
// file helpers that never follow links.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>

namespace ziptest {

class TempTree {
public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorn_zip_XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_root = pattern;
    }
    ~TempTree() {
        std::error_code ec;
        // Read-only files and folders do not stop removal as root, but may as another user.
        for (auto it = std::filesystem::recursive_directory_iterator(m_root, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                             std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(m_root, ec);
    }
    const std::filesystem::path& Root() const { return m_root; }

private:
    std::filesystem::path m_root;
};

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
