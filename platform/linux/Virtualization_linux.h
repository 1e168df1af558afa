#pragma once

#include "platform/Virtualization.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Where Linux keeps the facts: sysfs (DMI, SMBIOS table, hypervisor) and procfs (cpuinfo, xen).
// The roots and the CPU query can be replaced, so tests run on fixture trees.
namespace vorn::platform {

// The hypervisor signature; an empty function stands for the CPU's own instruction.
using HypervisorSignatureQuery = std::function<std::optional<std::string>()>;

// The machine's roots by default.
struct VirtualizationSource {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path procRoot = "/proc";
    HypervisorSignatureQuery cpu;
};

// The facts as read from `source`; the SMBIOS table is readable by root only.
std::unique_ptr<IVirtualization> CreateVirtualization(VirtualizationSource source);

// CPUID leaf 1 ECX bit 31 and leaf 0x40000000 on x86; nothing elsewhere.
std::optional<std::string> QueryHypervisorSignature();

}  // namespace vorn::platform
