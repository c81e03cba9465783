// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The helper's session against any order of requests a caller could send, on the model of the
// kernel, with the kernel's calls failing now and then and someone else adding an address. After
// the end, every address and route of the PC that the session took off is back, or named in
// what the restore reports as not put back; 192.168.1.141 is on no link.
#include <arpa/inet.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "helper/session.h"
#include "platform/netfacts.h"
#include "tests/support/fake_kernel.h"

namespace kestrel {
namespace {

using testing::FakeKernel;
using testing::KernelCall;

// eth0 (2) with a /16 and clashing routes beside each other, eth1 (3) the lease with a
// secondary and routes through the router, eth2 (5) down.
void Build(FakeKernel& kernel) {
    const std::string names[] = {"", "", "eth0", "eth1", "", "eth2"};
    for (std::uint8_t i : {2, 3, 5})
        kernel.AddLink(
            {i, names[i], names[i], {0x02, 0, 0, 0, 0, i}, MIB_IF_TYPE_ETHERNET, i != 5, i != 5});
    for (const char* address :
         {"192.168.0.5/16 dev 2", "10.20.0.5/16 dev 2", "192.168.1.100/24 dev 3",
          "192.168.1.200/24 dev 3", "192.168.1.7/28 dev 3 noprefixroute"})
        kernel.PutAddress(address);
    for (const char* route :
         {"192.168.1.0/24 via 192.168.0.254 dev 2 proto static metric 50",
          "192.168.1.0/24 dev 2 scope link metric 50", "192.168.1.1/32 dev 2 scope link",
          "default via 192.168.1.1 dev 3 proto dhcp metric 100",
          "10.9.0.0/16 via 192.168.1.254 dev 3 proto static",
          "172.16.0.0/12 dev 3 scope link src 192.168.1.7"})
        kernel.PutRoute(route);
}

HelperRequest Ask(HelperOp op) {
    HelperRequest request;
    request.op = op;
    return request;
}

// Whether `line`, an `ip` command, names the object of `text`, as the model writes it: by its
// destination or address and the words that tell it from its neighbours.
bool Names(const std::string& line, const std::string& text) {
    const std::string first = text.substr(0, text.find(' '));
    return line.find(first) != std::string::npos;
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    // In memory: the journal syncs every change.
    char name[] = "/dev/shm/kestrel-session-fuzz-XXXXXX";
    if (!mkdtemp(name)) std::abort();
    const std::string folder = name;
    {
        FakeKernel kernel;
        Build(kernel);
        std::string why;
        std::unique_ptr<Journal> journal = Journal::Open(folder, why);
        if (!journal) std::abort();
        HelperSession session(kernel, *journal, [](const std::string&) {});
        const std::vector<std::string> addresses = kernel.AddressTexts();
        const std::vector<std::string> routes = kernel.RouteTexts();
        const std::vector<MIB_IPFORWARDROW> firstRows =
            session.Handle(Ask(HelperOp::Routes)).routes;
        const IPAddr pcAddresses[] = {inet_addr("192.168.0.5"), inet_addr("192.168.1.100"),
                                      inet_addr("192.168.1.200"), inet_addr("192.168.1.7")};
        const int pcPrefixes[] = {16, 24, 24, 28};

        std::vector<std::string> left;
        bool ended = false;
        for (std::size_t i = 0; i + 1 < size && !ended; i += 2) {
            const std::uint8_t pick = data[i + 1];
            switch (data[i] % 8) {
                case 0: {  // the temporary address on a link
                    HelperRequest request = Ask(HelperOp::AddAddress);
                    request.address = kTemporary;
                    request.mask = inet_addr(kTemporaryMask);
                    request.ifIndex = 2 + pick % 4;
                    session.Handle(request);
                    break;
                }
                case 1: {  // one of the PC's addresses back
                    HelperRequest request = Ask(HelperOp::AddAddress);
                    request.address = pcAddresses[pick % 4];
                    request.mask = htonl(~std::uint32_t{0} << (32 - pcPrefixes[pick % 4]));
                    request.ifIndex = pick % 4 == 0 ? 2 : 3;
                    session.Handle(request);
                    break;
                }
                case 2: {  // an address by its context, as last listed
                    const HelperReply adapters = session.Handle(Ask(HelperOp::Adapters));
                    std::vector<DWORD> contexts;
                    for (const AdapterRecord& adapter : adapters.adapters)
                        for (const AdapterAddress& address : adapter.addresses)
                            contexts.push_back(address.context);
                    HelperRequest request = Ask(HelperOp::DeleteAddress);
                    request.context = contexts.empty() ? pick : contexts[pick % contexts.size()];
                    session.Handle(request);
                    break;
                }
                case 3: {  // a route as now listed
                    const HelperReply now = session.Handle(Ask(HelperOp::Routes));
                    if (now.routes.empty()) break;
                    HelperRequest request = Ask(HelperOp::DeleteRoute);
                    request.row = now.routes[pick % now.routes.size()];
                    session.Handle(request);
                    break;
                }
                case 4: {  // a route as first listed, re-created
                    HelperRequest request = Ask(HelperOp::CreateRoute);
                    request.row = firstRows[pick % firstRows.size()];
                    session.Handle(request);
                    break;
                }
                case 5: {  // the kernel's next call of a kind fails
                    const KernelCall calls[] = {
                        KernelCall::kAddresses,     KernelCall::kRoutes,
                        KernelCall::kAddAddress,    KernelCall::kAddRoute,
                        KernelCall::kDeleteAddress, KernelCall::kDeleteRoute,
                        KernelCall::kSetLinkUp};
                    kernel.Fail(calls[pick % 7], pick & 0x80 ? -ENOMEM : -ENETUNREACH);
                    break;
                }
                case 6: {  // someone else adds an address beside
                    KernelAddress foreign;
                    testing::ParseAddress(
                        pick & 1 ? "192.168.1.50/24 dev 3" : "192.168.1.51/24 dev 5", foreign);
                    kernel.AddAddress(foreign);
                    break;
                }
                case 7:
                    left = session.RestoreAll();
                    ended = true;
                    break;
            }
        }
        if (!ended) left = session.RestoreAll();

        // What the restore reports is checked against the objects the PC had. Whether an
        // address is secondary depends on what someone else added meanwhile.
        auto primaryOrNot = [](std::vector<std::string> texts) {
            for (std::string& text : texts)
                if (const auto at = text.find(" secondary"); at != std::string::npos)
                    text.erase(at, 10);
            return texts;
        };
        const std::vector<std::string> nowAddresses = primaryOrNot(kernel.AddressTexts());
        const std::vector<std::string> nowRoutes = kernel.RouteTexts();
        auto missing = [&](const std::vector<std::string>& was,
                           const std::vector<std::string>& now) {
            for (const std::string& text : was) {
                if (std::find(now.begin(), now.end(), text) != now.end()) continue;
                if (std::any_of(left.begin(), left.end(),
                                [&](const std::string& line) { return Names(line, text); }))
                    continue;
                std::fprintf(stderr, "lost without a word: %s\n", text.c_str());
                for (const std::string& line : left)
                    std::fprintf(stderr, "  reported: %s\n", line.c_str());
                std::abort();
            }
        };
        missing(primaryOrNot(addresses), nowAddresses);
        missing(routes, nowRoutes);
        for (const std::string& text : nowAddresses)
            if (text.rfind("192.168.1.141/", 0) == 0 &&
                std::none_of(left.begin(), left.end(), [](const std::string& line) {
                    return line.find("del 192.168.1.141") != std::string::npos;
                })) {
                std::fprintf(stderr, "left on: %s\n", text.c_str());
                std::abort();
            }
    }
    std::filesystem::remove_all(folder);
    return 0;
}
