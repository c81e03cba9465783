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
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "helper/session.h"
#include "platform/netfacts.h"
#include "tests/support/fake_kernel.h"

namespace kestrel {
namespace {

using Op = HelperOp;
using testing::FakeKernel;
using testing::KernelCall;
using testing::ParseAddress;

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

// Whether an address is secondary depends on what someone else added meanwhile.
std::vector<std::string> Unmarked(std::vector<std::string> texts) {
    for (std::string& text : texts)
        if (const auto at = text.find(" secondary"); at != std::string::npos) text.erase(at, 10);
    return texts;
}

[[noreturn]] void Broken(const std::string& what, const std::vector<std::string>& reported) {
    std::fprintf(stderr, "%s\n", what.c_str());
    for (const std::string& line : reported) std::fprintf(stderr, "  reported: %s\n", line.c_str());
    std::abort();
}

// The requests the input picks, two bytes each, until the input or the conversation ends: what
// the restore reports as not put back.
std::vector<std::string> Converse(FakeKernel& kernel, HelperSession& session,
                                  const std::uint8_t* data, std::size_t size) {
    const std::vector<MIB_IPFORWARDROW> firstRows = session.Handle({.op = Op::Routes}).routes;
    const char* const pcAddresses[] = {"192.168.0.5", "192.168.1.100", "192.168.1.200",
                                       "192.168.1.7"};
    const char* const pcMasks[] = {"255.255.0.0", "255.255.255.0", "255.255.255.0",
                                   "255.255.255.240"};
    auto add = [&](const char* address, const char* mask, int link) {
        session.Handle({.op = Op::AddAddress,
                        .address = inet_addr(address),
                        .mask = inet_addr(mask),
                        .ifIndex = static_cast<DWORD>(link)});
    };
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const std::uint8_t pick = data[i + 1];
        switch (data[i] % 8) {
            case 0:  // the temporary address on a link
                add(kTemporaryAddress, kTemporaryMask, 2 + pick % 4);
                break;
            case 1:  // one of the PC's addresses back
                add(pcAddresses[pick % 4], pcMasks[pick % 4], pick % 4 == 0 ? 2 : 3);
                break;
            case 2: {  // an address by its context, as last listed
                std::vector<DWORD> contexts;
                for (const AdapterRecord& adapter : session.Handle({.op = Op::Adapters}).adapters)
                    for (const AdapterAddress& address : adapter.addresses)
                        contexts.push_back(address.context);
                session.Handle(
                    {.op = Op::DeleteAddress,
                     .context = contexts.empty() ? DWORD{pick} : contexts[pick % contexts.size()]});
                break;
            }
            case 3:  // a route as now listed
                if (const auto now = session.Handle({.op = Op::Routes}).routes; !now.empty())
                    session.Handle({.op = Op::DeleteRoute, .row = now[pick % now.size()]});
                break;
            case 4:  // a route as first listed, re-created
                session.Handle({.op = Op::CreateRoute, .row = firstRows[pick % firstRows.size()]});
                break;
            case 5:  // the kernel's next call fails: kAddresses to kSetLinkUp, in their order
                kernel.Fail(static_cast<KernelCall>(1 + pick % 7),
                            pick & 0x80 ? -ENOMEM : -ENETUNREACH);
                break;
            case 6: {  // someone else adds an address beside
                KernelAddress foreign;
                ParseAddress(pick & 1 ? "192.168.1.50/24 dev 3" : "192.168.1.51/24 dev 5", foreign);
                kernel.AddAddress(foreign);
                break;
            }
            case 7:
                return session.RestoreAll();
        }
    }
    return session.RestoreAll();
}

}  // namespace
}  // namespace kestrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    // In memory: the journal syncs every change.
    char folder[] = "/dev/shm/kestrel-session-fuzz-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    {
        FakeKernel kernel;
        Build(kernel);
        std::string why;
        std::unique_ptr<Journal> journal = Journal::Open(folder, why);
        if (!journal) std::abort();
        HelperSession session(kernel, *journal, [](const std::string&) {});
        const std::vector<std::string> addresses = Unmarked(kernel.AddressTexts());
        const std::vector<std::string> routes = kernel.RouteTexts();
        const std::vector<std::string> left = Converse(kernel, session, data, size);

        // The restore names an object it could not put back by its destination or address.
        auto reported = [&](const std::string& part) {
            return std::any_of(left.begin(), left.end(), [&](const std::string& line) {
                return line.find(part) != std::string::npos;
            });
        };
        const std::vector<std::string> nowAddresses = Unmarked(kernel.AddressTexts());
        const std::vector<std::string> nowRoutes = kernel.RouteTexts();
        for (const auto& [was, now] :
             {std::pair{&addresses, &nowAddresses}, std::pair{&routes, &nowRoutes}})
            for (const std::string& text : *was)
                if (std::find(now->begin(), now->end(), text) == now->end() &&
                    !reported(text.substr(0, text.find(' '))))
                    Broken("lost without a word: " + text, left);
        for (const std::string& text : nowAddresses)
            if (text.starts_with("192.168.1.141/") && !reported("del 192.168.1.141"))
                Broken("left on: " + text, left);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
