#include "services/probes/VirtualMachine.h"

#include <array>
#include <string_view>

namespace vorn {

namespace {

struct Signature {
    std::string_view text;
    std::string_view name;
};

// The hypervisor leaf's vendor signatures.
constexpr std::array<Signature, 11> kCpuSignatures{{
    {"XenVMMXenVMM", "xen"},
    {"KVMKVMKVM", "kvm"},
    {"Linux KVM Hv", "kvm"},  // KVM offering Hyper-V enlightenments
    {"TCGTCGTCGTCG", "qemu"},
    {"VMwareVMware", "vmware"},
    {"Microsoft Hv", "hyperv"},
    {"bhyve bhyve ", "bhyve"},
    {"QNXQVMBSQG", "qnx"},
    {"ACRNACRNACRN", "acrn"},
    {"SRESRESRESRE", "sre"},
    {"Apple VZ", "apple"},
}};

// DMI strings begin with one of these (product name is examined before the vendor, so a KVM
// product on a QEMU vendor counts as KVM).
constexpr std::array<Signature, 17> kDmiVendors{{
    {"KVM", "kvm"},
    {"OpenStack", "kvm"},
    {"KubeVirt", "kvm"},
    {"Amazon EC2", "amazon"},
    {"QEMU", "qemu"},
    {"VMware", "vmware"},
    {"VMW", "vmware"},
    {"innotek GmbH", "virtualbox"},
    {"VirtualBox", "virtualbox"},
    {"Oracle Corporation", "virtualbox"},
    {"Xen", "xen"},
    {"Bochs", "bochs"},
    {"Parallels", "parallels"},
    {"BHYVE", "bhyve"},
    {"Hyper-V", "hyperv"},
    {"Apple Virtualization", "apple"},
    {"Google Compute Engine", "google"},
}};

constexpr std::string_view kOther = "vm-other";

std::string_view FromDmiVendor(const vorn::platform::VirtualizationFacts& facts) {
    for (const std::string& value : facts.dmiStrings) {
        for (const Signature& vendor : kDmiVendors) {
            if (std::string_view(value).starts_with(vendor.text))
                return vendor.name;
        }
    }
    return {};
}

// Amazon names both its virtual machines and its bare-metal instances in DMI; the firmware's
// VM bit, or failing that a ".metal" product name, tells them apart.
std::string_view FromDmi(const vorn::platform::VirtualizationFacts& facts) {
    const std::string_view vendor = FromDmiVendor(facts);
    if (vendor == "amazon") {
        if (facts.firmwareVmBit)
            return *facts.firmwareVmBit ? vendor : std::string_view{};
        const std::string_view product =
            facts.dmiStrings.empty() ? std::string_view{} : std::string_view(facts.dmiStrings[0]);
        const size_t metal = product.find(".metal");
        if (metal != std::string_view::npos) {
            const size_t after = metal + 6;
            if (after == product.size() || product[after] == '-')
                return {};
        }
        return vendor;
    }
    if (vendor.empty() && facts.firmwareVmBit.value_or(false))
        return kOther;
    return vendor;
}

std::string_view FromCpu(const vorn::platform::VirtualizationFacts& facts) {
    if (!facts.hypervisorSignature)
        return {};
    for (const Signature& signature : kCpuSignatures) {
        if (*facts.hypervisorSignature == signature.text)
            return signature.name;
    }
    return kOther;
}

std::string_view Decide(const vorn::platform::VirtualizationFacts& facts) {
    // Some hypervisors present themselves as KVM or Hyper-V to the CPU but are known better by
    // their firmware, so those DMI names win first.
    const std::string_view dmi = FromDmi(facts);
    for (std::string_view early : {"virtualbox", "xen", "amazon", "parallels", "google"}) {
        if (dmi == early)
            return dmi;
    }
    if (facts.userModeLinux)
        return "uml";
    if (facts.xenDomain && !facts.xenDom0)
        return "xen";

    bool hyperv = false;
    bool other = false;
    const std::string_view cpu = FromCpu(facts);
    // QEMU with Hyper-V enlightenments shows Hyper-V's signature: other evidence decides first.
    if (cpu == "hyperv")
        hyperv = true;
    else if (cpu == kOther)
        other = true;
    else if (!cpu.empty())
        return cpu;

    // The Xen hardware domain is the host, unless the CPU showed a hypervisor underneath.
    if (!(facts.xenDomain && facts.xenDom0)) {
        if (dmi == kOther)
            other = true;
        else if (!dmi.empty())
            return dmi;
        if (facts.hypervisorType == "xen")
            return "xen";
        if (!facts.hypervisorType.empty())
            other = true;
    }
    if (hyperv)
        return "hyperv";
    return other ? kOther : std::string_view{};
}

}  // namespace

std::string DecideVirtualMachine(const vorn::platform::VirtualizationFacts& facts) {
    return std::string(Decide(facts));
}

std::string DetectVirtualMachine(const vorn::platform::IVirtualization& machine) {
    return DecideVirtualMachine(machine.ReadFacts());
}

}  // namespace vorn
