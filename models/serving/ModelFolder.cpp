#include "models/serving/ModelFolder.h"

#include "models/serving/ModelUrl.h"
#include "platform/FileBeneath.h"

namespace vorn {

ModelFolder::ModelFolder(std::filesystem::path folder, Resolver resolver)
    : m_folder(std::move(folder)), m_resolver(resolver) {}

bool ModelFolder::Has(std::string_view name) const {
    return IsSafeModelName(name) &&
           platform::OpenRegularBeneath(m_folder.string(), name, platform::BeneathAccess::Look,
                                        Resolution(), nullptr, nullptr);
}

std::optional<ModelFile> ModelFolder::Open(std::string_view name) const {
    ModelFile file;
    if (!IsSafeModelName(name) ||
        !platform::OpenRegularBeneath(m_folder.string(), name, platform::BeneathAccess::Read,
                                      Resolution(), &file.fd, &file.size))
        return std::nullopt;
    return file;
}

platform::BeneathResolver ModelFolder::Resolution() const {
    return m_resolver == Resolver::Kernel ? platform::BeneathResolver::Kernel
                                          : platform::BeneathResolver::Steps;
}

}  // namespace vorn
