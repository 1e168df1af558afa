#include "models/serving/ModelFileCache.h"

#include "models/serving/ModelUrl.h"
#include "platform/Logging.h"

#include <fstream>
#include <system_error>

namespace vorn {
namespace {

// Reads until the end of the stream rather than trusting the size seen before the read, so a
// file that changes length underneath is still read consistently. Null on any read error.
std::shared_ptr<const std::string> ReadWholeFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return nullptr;
    const auto expected = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in)
        return nullptr;
    auto data = std::make_shared<std::string>();
    data->resize(static_cast<size_t>(expected));
    in.read(data->data(), static_cast<std::streamsize>(data->size()));
    data->resize(static_cast<size_t>(in.gcount()));
    if (in.bad())
        return nullptr;
    if (in) {
        char block[16384];
        while (in.read(block, sizeof block) || in.gcount() > 0)
            data->append(block, static_cast<size_t>(in.gcount()));
        if (in.bad())
            return nullptr;
    }
    return data;
}

}  // namespace

ModelFileCache& ModelFileCache::Process() {
    static ModelFileCache* cache = new ModelFileCache;  // never destroyed: serving may outlive main
    return *cache;
}

ModelFileCache::Buffer ModelFileCache::Find(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    auto it = m_files.find(name);
    return it == m_files.end() ? nullptr : it->second;
}

ModelFileCache::Buffer ModelFileCache::Load(const std::filesystem::path& folder,
                                            const std::string& name) {
    if (!IsSafeModelName(name))
        return nullptr;
    if (Buffer cached = Find(name))
        return cached;
    const std::filesystem::path path =
        folder / std::filesystem::path(std::u8string(name.begin(), name.end()));
    Buffer data = ReadWholeFile(path);
    if (!data) {
        qCDebug(lcModels) << "model file not available locally:" << name.c_str();
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    auto [it, inserted] = m_files.emplace(name, std::move(data));
    if (inserted)
        qCDebug(lcModels) << "model file cached:" << name.c_str() << it->second->size() << "bytes";
    return it->second;
}

size_t ModelFileCache::Count() const {
    std::lock_guard lock(m_mutex);
    return m_files.size();
}

}  // namespace vorn
