#include "services/probes/VirtualMachine.h"

#include "platform/linux/Virtualization_linux.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using vorn::DetectVirtualMachine;
using vorn::platform::VirtualizationSource;

namespace {

// A machine as /sys, /proc and the CPU show it.
struct Machine {
    vorn::test::TempFolder dir{"vorn-probes"};
    std::optional<std::string> cpu;

    Machine& Dmi(std::string_view product,
                 std::string_view vendor,
                 std::string_view board = {},
                 std::string_view bios = {}) {
        dir.Write("sys/class/dmi/id/product_name", std::string(product) + "\n");
        dir.Write("sys/class/dmi/id/sys_vendor", std::string(vendor) + "\n");
        if (!board.empty())
            dir.Write("sys/class/dmi/id/board_vendor", std::string(board) + "\n");
        if (!bios.empty())
            dir.Write("sys/class/dmi/id/bios_vendor", std::string(bios) + "\n");
        return *this;
    }
    Machine& Cpu(std::optional<std::string> signature) {
        cpu = std::move(signature);
        return *this;
    }
    // SMBIOS type 0 with extension byte 2 (offset 0x13) carrying the VM bit or not.
    Machine& FirmwareVmBit(bool set) {
        std::string raw(24, '\0');
        raw[1] = 24;
        raw[19] = set ? 0x10 : 0x00;
        dir.Write("sys/firmware/dmi/entries/0-0/raw", raw);
        return *this;
    }
    std::string Detect() const {
        VirtualizationSource source;
        source.sysfsRoot = dir.Root() / "sys";
        source.procRoot = dir.Root() / "proc";
        const std::optional<std::string> signature = cpu;
        source.cpu = [signature] { return signature; };
        return DetectVirtualMachine(*vorn::platform::CreateVirtualization(source));
    }
};

}  // namespace

TEST(VirtualMachine, HypervisorsByCpuAndFirmware) {
    Machine kvm;
    kvm.Dmi("Standard PC (Q35 + ICH9, 2009)", "QEMU").Cpu("KVMKVMKVM");
    EXPECT_EQ(kvm.Detect(), "kvm");

    Machine vmware;
    vmware.Dmi("VMware Virtual Platform", "VMware, Inc.").Cpu("VMwareVMware");
    EXPECT_EQ(vmware.Detect(), "vmware");

    // VirtualBox offers the KVM interface to its guests; its firmware names it.
    Machine virtualbox;
    virtualbox.Dmi("VirtualBox", "innotek GmbH", "Oracle Corporation").Cpu("KVMKVMKVM");
    EXPECT_EQ(virtualbox.Detect(), "virtualbox");

    // Without the CPU leaf (a hypervisor that hides it) the firmware still tells.
    Machine hiddenVmware;
    hiddenVmware.Dmi("VMware7,1", "VMware, Inc.");
    EXPECT_EQ(hiddenVmware.Detect(), "vmware");

    Machine tcg;
    tcg.Dmi("Standard PC (i440FX + PIIX, 1996)", "QEMU").Cpu("TCGTCGTCGTCG");
    EXPECT_EQ(tcg.Detect(), "qemu");

    Machine unknown;
    unknown.Dmi("Some Board", "Some Vendor").Cpu("NewHypervisor");
    EXPECT_EQ(unknown.Detect(), "vm-other");
}

TEST(VirtualMachine, HyperVSignatureLetsOtherEvidenceDecide) {
    // QEMU with Hyper-V enlightenments shows Hyper-V's CPU signature.
    Machine enlightenedQemu;
    enlightenedQemu.Dmi("Standard PC (Q35 + ICH9, 2009)", "QEMU").Cpu("Microsoft Hv");
    EXPECT_EQ(enlightenedQemu.Detect(), "qemu");

    Machine hyperv;
    hyperv.Dmi("Virtual Machine", "Microsoft Corporation").Cpu("Microsoft Hv");
    EXPECT_EQ(hyperv.Detect(), "hyperv");
}

TEST(VirtualMachine, BareMetalAndContainersAreNoVirtualMachine) {
    Machine metal;
    metal.Dmi("OptiPlex 7090", "Dell Inc.", "Dell Inc.", "Dell Inc.");
    EXPECT_EQ(metal.Detect(), "");

    // A container on bare metal: the container's markers are not a hypervisor.
    Machine container;
    container.Dmi("OptiPlex 7090", "Dell Inc.");
    container.dir.Write("proc/1/environ", std::string("container=docker\0HOME=/\0", 25));
    container.dir.Write("proc/1/cgroup", "0::/docker/0123456789abcdef\n");
    container.dir.Write("dockerenv", "");
    EXPECT_EQ(container.Detect(), "");

    // Nothing readable at all (no DMI, no CPU leaf): bare metal.
    Machine empty;
    EXPECT_EQ(empty.Detect(), "");

    // A firmware that flags a VM without naming it.
    Machine flagged;
    flagged.Dmi("Board", "Vendor").FirmwareVmBit(true);
    EXPECT_EQ(flagged.Detect(), "vm-other");
}

TEST(VirtualMachine, AmazonMetalIsNotVirtual) {
    Machine ec2;
    ec2.Dmi("m5.large", "Amazon EC2").Cpu("KVMKVMKVM").FirmwareVmBit(true);
    EXPECT_EQ(ec2.Detect(), "amazon");
    Machine metal;
    metal.Dmi("m5.metal", "Amazon EC2").FirmwareVmBit(false);
    EXPECT_EQ(metal.Detect(), "");
    // Without the firmware table (not root) the product name decides.
    Machine metalByName;
    metalByName.Dmi("c5.metal", "Amazon EC2");
    EXPECT_EQ(metalByName.Detect(), "");
}

TEST(VirtualMachine, XenGuestAndHardwareDomain) {
    Machine guest;
    guest.dir.MakeFolder("proc/xen");
    EXPECT_EQ(guest.Detect(), "xen");

    Machine dom0;
    dom0.dir.Write("proc/xen/capabilities", "control_d\n");
    EXPECT_EQ(dom0.Detect(), "");
    Machine dom0ByFeatures;
    dom0ByFeatures.dir.MakeFolder("proc/xen");
    dom0ByFeatures.dir.Write("sys/hypervisor/properties/features", "00000800\n");
    EXPECT_EQ(dom0ByFeatures.Detect(), "");

    Machine sysfsOnly;
    sysfsOnly.dir.Write("sys/hypervisor/type", "xen\n");
    EXPECT_EQ(sysfsOnly.Detect(), "xen");

    Machine uml;
    uml.dir.Write("proc/cpuinfo", "processor\t: 0\nvendor_id\t: User Mode Linux\n");
    EXPECT_EQ(uml.Detect(), "uml");
}

TEST(VirtualMachine, LinkedFirmwareFilesAreNotFollowed) {
    // A DMI entry that is a link (to a file naming a hypervisor) is not read.
    Machine linked;
    linked.dir.Write("elsewhere", "VMware, Inc.\n");
    linked.dir.Link("sys/class/dmi/id/sys_vendor", linked.dir.Root() / "elsewhere");
    EXPECT_EQ(linked.Detect(), "");
}
