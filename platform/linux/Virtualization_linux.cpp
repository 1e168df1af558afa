#include "platform/linux/Virtualization_linux.h"

#include "platform/RegularFile.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cstdio>
#include <cstring>
#include <utility>

namespace vorn::platform {
namespace {

// Firmware files are a few bytes, /proc/cpuinfo some kilobytes per processor; past this it is not
// what we look for. No link is followed at the last component, so a fixture or a hostile tree
// cannot point a read elsewhere.
constexpr size_t kMaxFactBytes = 1 << 20;

std::optional<std::string> ReadSmallFile(const std::filesystem::path& path) {
    return ReadRegularFile(path.string(), kMaxFactBytes, LinkPolicy::Refuse);
}

std::string FirstLine(const std::optional<std::string>& text) {
    if (!text)
        return {};
    return text->substr(0, text->find('\n'));
}

bool Exists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The Xen hardware domain is not a virtual machine of anyone: the features bitmap (bit 11,
// XENFEAT_dom0) decides, else the capability list naming "control_d".
bool IsXenDom0(const VirtualizationSource& source) {
    if (const auto features = ReadSmallFile(source.sysfsRoot / "hypervisor/properties/features")) {
        unsigned long bits = 0;
        if (std::sscanf(features->c_str(), "%lx", &bits) == 1)
            return (bits & (1UL << 11)) != 0;
    }
    const auto caps = ReadSmallFile(source.procRoot / "xen/capabilities");
    if (!caps)
        return false;
    const std::string line = FirstLine(caps);
    size_t start = 0;
    while (start <= line.size()) {
        const size_t comma = line.find(',', start);
        const std::string cap =
            line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (cap == "control_d")
            return true;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return false;
}

bool IsUserModeLinux(const VirtualizationSource& source) {
    const auto cpuinfo = ReadSmallFile(source.procRoot / "cpuinfo");
    if (!cpuinfo)
        return false;
    // Only the first vendor line counts, as every processor of a machine has the same vendor.
    size_t pos = 0;
    while (pos < cpuinfo->size()) {
        const size_t end = cpuinfo->find('\n', pos);
        const std::string_view line(cpuinfo->data() + pos,
                                    (end == std::string::npos ? cpuinfo->size() : end) - pos);
        if (line.starts_with("vendor_id\t: "))
            return line.substr(12).starts_with("User Mode Linux");
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return false;
}

}  // namespace

std::optional<std::string> QueryHypervisorSignature() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & 0x80000000U) == 0)
        return std::nullopt;
    __cpuid(0x40000000U, eax, ebx, ecx, edx);
    char text[13] = {};
    std::memcpy(text, &ebx, 4);
    std::memcpy(text + 4, &ecx, 4);
    std::memcpy(text + 8, &edx, 4);
    return std::string(text);  // stops at the first NUL, as short signatures are padded with NULs
#else
    return std::nullopt;
#endif
}

namespace {

VirtualizationFacts ReadSourceFacts(const VirtualizationSource& source) {
    VirtualizationFacts facts;
    facts.hypervisorSignature = source.cpu ? source.cpu() : QueryHypervisorSignature();

    const std::filesystem::path dmi = source.sysfsRoot / "class/dmi/id";
    for (const char* name :
         {"product_name", "sys_vendor", "board_vendor", "bios_vendor", "product_version"})
        facts.dmiStrings.push_back(FirstLine(ReadSmallFile(dmi / name)));

    // Byte 1 is the structure length (0x12 plus the extension bytes); extension byte 2 is at 0x13.
    if (const auto raw = ReadSmallFile(source.sysfsRoot / "firmware/dmi/entries/0-0/raw");
        raw && raw->size() >= 20 && static_cast<unsigned char>((*raw)[1]) >= 20)
        facts.firmwareVmBit = (static_cast<unsigned char>((*raw)[19]) & (1U << 4)) != 0;

    facts.userModeLinux = IsUserModeLinux(source);
    facts.xenDomain = Exists(source.procRoot / "xen");
    facts.xenDom0 = facts.xenDomain && IsXenDom0(source);
    facts.hypervisorType = FirstLine(ReadSmallFile(source.sysfsRoot / "hypervisor/type"));
    return facts;
}

}  // namespace

class SysfsVirtualization : public IVirtualization {
public:
    explicit SysfsVirtualization(VirtualizationSource source) : m_source(std::move(source)) {}
    VirtualizationFacts ReadFacts() const override { return ReadSourceFacts(m_source); }

private:
    VirtualizationSource m_source;
};

std::unique_ptr<IVirtualization> CreateVirtualization(VirtualizationSource source) {
    return std::make_unique<SysfsVirtualization>(std::move(source));
}

std::unique_ptr<IVirtualization> CreateVirtualization() {
    return CreateVirtualization(VirtualizationSource{});
}

}  // namespace vorn::platform
