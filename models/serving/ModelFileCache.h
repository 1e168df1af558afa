#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vorn {

// Contents of model files by their relative name. The first successful read of a name fixes
// what is served for it until the process ends; a missing file is not remembered, so a later
// request tries the disk again. Buffers are shared and immutable: serving never copies them.
// Every operation is safe on any thread.
class ModelFileCache {
public:
    using Buffer = std::shared_ptr<const std::string>;

    // The cache shared by the request interceptor and the loopback server; lives until exit.
    static ModelFileCache& Process();

    // The cached contents of name, or null when it was never read.
    Buffer Find(const std::string& name) const;

    // The cached contents of name, else the regular file folder/name read whole and cached.
    // Null when the name is unsafe or the file is missing, not a regular file or unreadable.
    // The read happens without holding the lock; if two threads race, the first stored wins.
    Buffer Load(const std::filesystem::path& folder, const std::string& name);

    size_t Count() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, Buffer, std::less<>> m_files;
};

}  // namespace vorn
