// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Links: what each one is, whether it is up and cabled, and switching it on or off.
#include <linux/ethtool.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <netlink/addr.h>
#include <netlink/errno.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "helper/linux/linux_netkernel.h"
#include "helper/linux/rtnl.h"

namespace kestrel {
namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

UINT TypeOf(rtnl_link* link, const std::string& name) {
    // A bridge port, bond or team slave or VRF member carries no address of its own: the master
    // does, and the master is the adapter.
    if (rtnl_link_get_master(link) > 0) return MIB_IF_TYPE_OTHER;
    switch (rtnl_link_get_arptype(link)) {
        case ARPHRD_ETHER:
            if (Exists("/sys/class/net/" + name + "/wireless") ||
                Exists("/sys/class/net/" + name + "/phy80211"))
                return IF_TYPE_IEEE80211;
            return MIB_IF_TYPE_ETHERNET;
        case ARPHRD_LOOPBACK:
            return MIB_IF_TYPE_LOOPBACK;
        case ARPHRD_PPP:
            return MIB_IF_TYPE_PPP;
        default:
            return MIB_IF_TYPE_OTHER;
    }
}

std::string DriverOf(const std::string& name) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    const bool ok = ::ioctl(fd, SIOCETHTOOL, &request) == 0;
    ::close(fd);
    return ok ? std::string(info.driver, strnlen(info.driver, sizeof info.driver)) : std::string();
}

// What udev's hardware database knows of a physical device. Its files are indexed by ifindex,
// which another namespace reuses, so the file must name this very interface.
std::string VendorModelOf(const std::string& name, int ifIndex) {
    if (!Exists("/sys/class/net/" + name + "/device")) return {};
    std::ifstream data("/run/udev/data/n" + std::to_string(ifIndex));
    std::string line, vendor, model;
    bool same = false;
    while (std::getline(data, line)) {
        if (line == "E:INTERFACE=" + name) same = true;
        if (line.rfind("E:ID_VENDOR_FROM_DATABASE=", 0) == 0) vendor = line.substr(26);
        if (line.rfind("E:ID_MODEL_FROM_DATABASE=", 0) == 0) model = line.substr(25);
    }
    if (!same) return {};
    return vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
}

// "Intel Corporation 82574L Gigabit Network Connection (eth0, e1000e)", "eth1 (veth)", "lo".
std::string DescriptionOf(rtnl_link* link, const std::string& name, int ifIndex) {
    std::string driver = DriverOf(name);
    if (driver.empty() && rtnl_link_get_type(link)) driver = rtnl_link_get_type(link);
    const std::string device = VendorModelOf(name, ifIndex);
    if (!device.empty()) return device + " (" + name + (driver.empty() ? "" : ", " + driver) + ")";
    return driver.empty() ? name : name + " (" + driver + ")";
}

// All but the description.
KernelLink EntryOf(rtnl_link* link) {
    KernelLink entry;
    entry.index = rtnl_link_get_ifindex(link);
    entry.name = rtnl_link_get_name(link) ? rtnl_link_get_name(link) : "";
    if (nl_addr* mac = rtnl_link_get_addr(link)) {
        const auto* bytes = static_cast<const std::uint8_t*>(nl_addr_get_binary_addr(mac));
        entry.mac.assign(bytes, bytes + nl_addr_get_len(mac));
    }
    entry.type = TypeOf(link, entry.name);
    entry.up = (rtnl_link_get_flags(link) & IFF_UP) != 0;
    entry.carrier = (rtnl_link_get_flags(link) & IFF_LOWER_UP) != 0;
    return entry;
}

}  // namespace

bool LinuxNetKernel::Links(std::vector<KernelLink>& links) {
    ifinfomsg request{};
    request.ifi_family = AF_UNSPEC;
    std::vector<KernelBlob> messages;
    if (!rtnl::Dump(RTM_GETLINK, &request, sizeof request, messages)) return false;
    links.clear();
    for (const KernelBlob& message : messages) {
        rtnl::Object object = rtnl::Parse(message);
        auto* link = reinterpret_cast<rtnl_link*>(object.get());
        if (!link) continue;
        KernelLink entry = EntryOf(link);
        entry.description = DescriptionOf(link, entry.name, entry.index);
        links.push_back(std::move(entry));
    }
    return true;
}

int LinuxNetKernel::Link(int ifIndex, KernelLink& link) {
    if (ifIndex <= 0) return -ENODEV;
    nl_sock* socket = nl_socket_alloc();
    if (!socket) return -ENOMEM;
    rtnl_link* found = nullptr;
    int result = nl_connect(socket, NETLINK_ROUTE);
    if (result == 0) result = rtnl_link_get_kernel(socket, ifIndex, nullptr, &found);
    nl_socket_free(socket);
    if (result == -NLE_NODEV) return -ENODEV;
    if (result < 0 || !found) return -EIO;
    link = EntryOf(found);
    rtnl_link_put(found);
    return 0;
}

int LinuxNetKernel::SetLinkUp(int ifIndex, bool up) {
    ifinfomsg header{};
    header.ifi_family = AF_UNSPEC;
    header.ifi_index = ifIndex;
    header.ifi_flags = up ? IFF_UP : 0;
    header.ifi_change = IFF_UP;
    rtnl::Message request = rtnl::NewRequest(RTM_NEWLINK, 0, &header, sizeof header);
    return rtnl::Send(request.get());
}

}  // namespace kestrel
