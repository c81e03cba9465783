// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The netlink layer under LinuxNetKernel: whole dumps as the kernel's own messages, and
// requests answered with the kernel's errno. Internal to helper/linux/.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "helper/netkernel.h"

struct nl_addr;
struct nl_msg;
struct nl_object;
struct nlmsghdr;

namespace kestrel::rtnl {

struct MessageRelease {
    void operator()(nl_msg* message) const;
};
using Message = std::unique_ptr<nl_msg, MessageRelease>;

// Every message of an RTM_GET* dump; `header` is the request's family header. A dump that a
// concurrent change interrupted is read again, a few times at most. False when it cannot be read.
bool Dump(int type, const void* header, std::size_t headerSize, std::vector<KernelBlob>& messages);

struct ObjectRelease {
    void operator()(nl_object* object) const;
};
using Object = std::unique_ptr<nl_object, ObjectRelease>;

// libnl's object (rtnl_link, rtnl_addr, rtnl_route) for one dumped message, or null.
Object Parse(const KernelBlob& blob);

// An IPv4 nl_addr's value in network byte order; 0 for none.
IPAddr AddressOf(nl_addr* address);

// A new request of `type` whose payload starts with `header`.
Message NewRequest(int type, int flags, const void* header, std::size_t headerSize);

// Sends the request and waits for the acknowledgement: 0, or the kernel's negative errno.
int Send(nl_msg* request);

// The dumped message in `blob`, or null when it is not a whole message of `type` with a payload
// header of `headerSize`. Points into `blob`.
const nlmsghdr* MessageOf(const KernelBlob& blob, int type, std::size_t headerSize);
nlmsghdr* MessageOf(KernelBlob& blob, int type, std::size_t headerSize);

}  // namespace kestrel::rtnl
