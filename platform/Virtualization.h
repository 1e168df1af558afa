#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vorn::platform {

// What the CPU and the firmware say about a hypervisor underneath this system. Raw facts only;
// the verdict is DecideVirtualMachine (services/probes/VirtualMachine.h).
struct VirtualizationFacts {
    // The 12-byte vendor signature of the hypervisor leaf (CPUID 0x40000000), trailing NULs cut,
    // when the CPU sets its hypervisor bit; nothing on bare metal or a CPU without CPUID.
    std::optional<std::string> hypervisorSignature;
    // The firmware's DMI strings, first line each, in the order product name, system vendor,
    // board vendor, BIOS vendor, product version; an unreadable one is empty.
    std::vector<std::string> dmiStrings;
    // SMBIOS BIOS characteristics extension byte 2, bit 4 ("virtual machine"); nothing when the
    // table cannot be read.
    std::optional<bool> firmwareVmBit;
    bool userModeLinux = false;  // the CPU is User-Mode Linux's
    bool xenDomain = false;      // running in a Xen domain
    bool xenDom0 = false;        // ... and that domain is the hardware domain (dom0)
    std::string hypervisorType;  // the system's name of the hypervisor, when it exposes one
};

// This machine's CPU and firmware.
class IVirtualization {
public:
    virtual ~IVirtualization() = default;

    // Reads the facts. Any thread; a few small reads. What cannot be read stays empty.
    virtual VirtualizationFacts ReadFacts() const = 0;
};

// Never null. Any thread.
std::unique_ptr<IVirtualization> CreateVirtualization();

}  // namespace vorn::platform
