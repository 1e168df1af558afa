#include "platform/Virtualization.h"

#include "platform/win32/SmbiosTable_win.h"

#include <windows.h>

#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cstring>

namespace vorn::platform {
namespace {

// CPUID leaf 1 ECX bit 31 says a hypervisor is there; leaf 0x40000000 names it.
std::optional<std::string> HypervisorSignature() {
    unsigned regs[4] = {};  // eax, ebx, ecx, edx
#if defined(_MSC_VER)
    int info[4] = {};
    __cpuid(info, 1);
    if ((static_cast<unsigned>(info[2]) & 0x80000000U) == 0)
        return std::nullopt;
    __cpuid(info, 0x40000000);
    std::memcpy(regs, info, sizeof regs);
#elif defined(__i386__) || defined(__x86_64__)
    if (__get_cpuid(1, &regs[0], &regs[1], &regs[2], &regs[3]) == 0 || (regs[2] & 0x80000000U) == 0)
        return std::nullopt;
    __cpuid(0x40000000U, regs[0], regs[1], regs[2], regs[3]);
#else
    return std::nullopt;
#endif
    char text[13] = {};
    std::memcpy(text, &regs[1], 4);
    std::memcpy(text + 4, &regs[2], 4);
    std::memcpy(text + 8, &regs[3], 4);
    return std::string(text);  // short signatures are padded with NULs
}

// The raw SMBIOS table ('RSMB' provider), readable by every user on Windows.
std::string RawSmbios() {
    constexpr DWORD kProvider = ('R' << 24) | ('S' << 16) | ('M' << 8) | 'B';
    // A table is a few kilobytes; anything past this is not a table we read.
    constexpr UINT kMaxBytes = 1U << 20;
    const UINT size = GetSystemFirmwareTable(kProvider, 0, nullptr, 0);
    if (size == 0 || size > kMaxBytes)
        return {};
    std::string raw(size, '\0');
    const UINT read = GetSystemFirmwareTable(kProvider, 0, raw.data(), size);
    if (read == 0 || read > size)
        return {};
    raw.resize(read);
    return raw;
}

class Virtualization final : public IVirtualization {
public:
    VirtualizationFacts ReadFacts() const override {
        VirtualizationFacts facts;
        facts.hypervisorSignature = HypervisorSignature();
        const std::string raw = RawSmbios();
        if (raw.empty()) {
            facts.dmiStrings.assign(5, std::string());
            return facts;
        }
        win32::FirmwareIdentity firmware = win32::ParseRawSmbios(raw);
        facts.dmiStrings = {firmware.productName, firmware.systemVendor, firmware.boardVendor,
                            firmware.biosVendor, firmware.productVersion};
        facts.firmwareVmBit = firmware.virtualMachineBit;
        // User-Mode Linux, Xen's domains and the kernel's hypervisor name are Linux's; a Windows
        // guest of Xen is known by the CPU's signature.
        return facts;
    }
};

}  // namespace

std::unique_ptr<IVirtualization> CreateVirtualization() {
    return std::make_unique<Virtualization>();
}

}  // namespace vorn::platform
