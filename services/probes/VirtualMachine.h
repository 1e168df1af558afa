#pragma once

#include "platform/Virtualization.h"

#include <string>

namespace vorn {

// The hypervisor this system runs under, by the rules systemd-detect-virt --vm applies: "" on
// bare metal (a container on bare metal included: containers are not virtual machines), else
// kvm, qemu, vmware, virtualbox, hyperv, xen, amazon, bochs, parallels, bhyve, qnx, acrn, sre,
// apple, google, uml, or vm-other for a hypervisor that does not say which it is. The names are
// systemd's, except virtualbox (systemd: oracle) and hyperv (systemd: microsoft). Pure, any thread.
std::string DecideVirtualMachine(const vorn::platform::VirtualizationFacts& facts);

// DecideVirtualMachine over the facts `machine` reads (this machine's CPU and firmware in the
// client). Any thread.
std::string DetectVirtualMachine(const vorn::platform::IVirtualization& machine);

}  // namespace vorn
