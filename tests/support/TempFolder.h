#pragma once

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include <stdlib.h>

namespace vorn::test {

// A fresh folder below the system's temporary folder, removed with everything in it when the
// object goes, also when a test made parts of it read-only. Construction throws when no folder can
// be made: a test must never go on to write relative to the working directory.
class TempFolder {
public:
    // The folder's name is `prefix` and six random characters, so that a leftover tells which
    // test left it; it is made in `parent` (the system's temporary folder unless given).
    explicit TempFolder(std::string_view prefix = "vorn-test",
                        const std::filesystem::path& parent = {}) {
        std::string pattern = ((parent.empty() ? std::filesystem::temp_directory_path() : parent) /
                               (std::string(prefix) + "-XXXXXX"))
                                  .string();
        if (!::mkdtemp(pattern.data()))
            throw std::system_error(errno, std::generic_category(),
                                    "cannot make a temporary folder " + pattern);
        m_root = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(m_root, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(m_root, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return m_root / relative;
    }

    // Writes `bytes` (NULs included) to Root()/relative, making the folders on the way; returns
    // the file's path.
    std::filesystem::path Write(const std::filesystem::path& relative,
                                std::string_view bytes) const {
        const std::filesystem::path file = m_root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return file;
    }
    // Makes Root()/relative a symbolic link to `target` (which need not exist).
    std::filesystem::path Link(const std::filesystem::path& relative,
                               const std::filesystem::path& target) const {
        const std::filesystem::path file = m_root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::create_symlink(target, file);
        return file;
    }
    // Makes Root()/relative and the folders above it.
    std::filesystem::path MakeFolder(const std::filesystem::path& relative) const {
        const std::filesystem::path folder = m_root / relative;
        std::filesystem::create_directories(folder);
        return folder;
    }

private:
    std::filesystem::path m_root;
};

}  // namespace vorn::test
