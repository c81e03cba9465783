// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Benchmark, not a test: the privileged helper's round trip per request and its memory. Run as
// root inside the lab's pc namespace (bench_helper.sh does): it starts the helper directly,
// times hello, the adapter and route reads, and adding and deleting the temporary address; then
// gives the PC 200 routes into the router's subnet on its link to the router and times
// their removal as the front end makes it (the table's two calls, one delete per clashing row)
// and their restoration (one create per row, newest first). It also gives the link 5,000 routes
// through the router, which the kernel drops with 192.168.1.100/24, and times the removal of
// that address and its restoration with them, and reads a table of 100,000 more routes. It
// prints the medians, the requests each removal and restoration took, and the helper's peak
// resident memory.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/helper_client.h"
#include "platform/linux/netparams.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string StatusLine(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
    return "?";
}

// The helper's processor time, to the nanosecond: on a busy machine steadier than the clock.
double CpuMs(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    double nanoseconds = 0;
    schedstat >> nanoseconds;
    return nanoseconds / 1e6;
}

double MedianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

constexpr kestrel::DWORD kClashingRoutes = 200;
constexpr kestrel::DWORD kFirstMetric = 1000;

// The router's subnet through the lab's link to it (eth1), once per metric: each is a route of
// its own to the kernel, and each holds 192.168.1.1.
bool AddClashingRoutes() {
    FILE* batch = popen("ip -batch -", "w");
    if (!batch) return false;
    for (kestrel::DWORD metric = kFirstMetric; metric < kFirstMetric + kClashingRoutes; ++metric)
        std::fprintf(batch, "route add 192.168.1.0/24 dev eth1 proto static metric %u\n", metric);
    return pclose(batch) == 0;
}

constexpr int kDroppedRoutes = 5000;

// Routes through the router on its link: the kernel drops them with the address that reaches it.
bool RoutesThroughTheRouter(const char* verb) {
    FILE* batch = popen("ip -batch -", "w");
    if (!batch) return false;
    for (int i = 0; i < kDroppedRoutes; ++i)
        std::fprintf(batch, "route %s 10.%d.%d.0/24 via 192.168.1.1 dev eth1 proto static\n", verb,
                     100 + i / 250, i % 250);
    return pclose(batch) == 0;
}

int CountRoutesThroughTheRouter() {
    FILE* pipe = popen("ip -4 route show root 10.96.0.0/11 | grep -c 'via 192.168.1.1'", "r");
    int count = -1;
    if (pipe && std::fscanf(pipe, "%d", &count) != 1) count = -1;
    if (pipe) pclose(pipe);
    return count;
}

constexpr int kManyRoutes = 100000;

// Host routes on the lab's other link, which no recovery touches.
bool ManyRoutes(const char* verb) {
    FILE* batch = popen("ip -batch -", "w");
    if (!batch) return false;
    for (int i = 0; i < kManyRoutes; ++i)
        std::fprintf(batch, "route %s 10.%d.%d.%d/32 dev eth0\n", verb, 200 + (i >> 16),
                     i >> 8 & 255, i & 255);
    return pclose(batch) == 0;
}

// Counts the request lines that cross to the helper.
struct CountingChannel final : kestrel::HelperChannel {
    explicit CountingChannel(kestrel::HelperChannel& to) : inner(to) {}
    bool Exchange(const std::string& request, std::string& reply) override {
        ++requests;
        return inner.Exchange(request, reply);
    }
    kestrel::HelperChannel& inner;
    int requests = 0;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HELPER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::stoi(argv[2]) : 500;
    std::string why;
    auto process = HelperProcess::Start({argv[1]}, why);
    if (!process) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[1], why.c_str());
        return 1;
    }
    CountingChannel channel(*process);
    HelperIpHelper helper(channel, LinuxGetNetworkParams);
    if (!helper.Hello(why)) {
        std::fprintf(stderr, "no helper: %s\n", why.c_str());
        return 1;
    }

    std::vector<BYTE> block(64 * 1024);
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(block.data());
    auto* routes = reinterpret_cast<MIB_IPFORWARDTABLE*>(block.data());
    DWORD ethernet = 0;
    ULONG size = static_cast<ULONG>(block.size());
    if (helper.GetAdaptersInfo(adapters, &size) == NO_ERROR)
        for (auto* adapter = adapters; adapter; adapter = adapter->Next)
            if (adapter->Type == MIB_IF_TYPE_ETHERNET && !ethernet) ethernet = adapter->Index;

    struct Kind {
        const char* name;
        std::vector<double> samples;
    } kinds[] = {{"hello", {}}, {"adapters", {}}, {"routes", {}}, {"add+delete address", {}}};
    for (int i = 0; i < rounds; ++i) {
        auto timed = [](Kind& kind, auto call) {
            const auto start = Clock::now();
            call();
            kind.samples.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        };
        timed(kinds[0], [&] { helper.Hello(why); });
        timed(kinds[1], [&] {
            ULONG bytes = static_cast<ULONG>(block.size());
            helper.GetAdaptersInfo(adapters, &bytes);
        });
        timed(kinds[2], [&] {
            ULONG bytes = static_cast<ULONG>(block.size());
            helper.GetIpForwardTable(routes, &bytes, FALSE);
        });
        if (ethernet) {
            timed(kinds[3], [&] {
                ULONG context = 0, instance = 0;
                helper.AddIPAddress(inet_addr("192.168.1.141"), inet_addr("255.255.255.0"),
                                    ethernet, &context, &instance);
                helper.DeleteIPAddress(context);
            });
        }
    }
    std::printf("helper round trips over %d rounds (median):\n", rounds);
    for (const Kind& kind : kinds)
        if (!kind.samples.empty())
            std::printf("  %-20s %8.3f ms\n", kind.name, MedianMs(kind.samples));

    // 192.168.1.100/24 taken off with the routes the kernel drops with it, and put back.
    if (!RoutesThroughTheRouter("add")) {
        std::fprintf(stderr, "cannot add the routes through the router\n");
        return 1;
    }
    ULONG size100 = static_cast<ULONG>(block.size());
    ULONG context100 = 0;
    DWORD link100 = 0;
    if (helper.GetAdaptersInfo(adapters, &size100) == NO_ERROR)
        for (auto* adapter = adapters; adapter; adapter = adapter->Next)
            for (auto* ip = &adapter->IpAddressList; ip; ip = ip->Next)
                if (std::string(ip->IpAddress.String) == "192.168.1.100") {
                    context100 = ip->Context;
                    link100 = adapter->Index;
                }
    auto start100 = Clock::now();
    double cpu100 = CpuMs(process->Pid());
    const DWORD deleted = helper.DeleteIPAddress(context100);
    const double removalMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start100).count();
    const double removalCpuMs = CpuMs(process->Pid()) - cpu100;
    const int left = CountRoutesThroughTheRouter();
    start100 = Clock::now();
    cpu100 = CpuMs(process->Pid());
    ULONG context = 0, instance = 0;
    const DWORD added = helper.AddIPAddress(inet_addr("192.168.1.100"), inet_addr("255.255.255.0"),
                                            link100, &context, &instance);
    const double restoreMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start100).count();
    std::printf("192.168.1.100/24 with %d routes through the router:\n", kDroppedRoutes);
    std::printf("  removal     %9.1f ms (helper's processor %.1f ms), status %lu, %d routes left\n",
                removalMs, removalCpuMs, static_cast<unsigned long>(deleted), left);
    std::printf("  restoration %9.1f ms (helper's processor %.1f ms), status %lu, %d routes back\n",
                restoreMs, CpuMs(process->Pid()) - cpu100, static_cast<unsigned long>(added),
                CountRoutesThroughTheRouter());
    RoutesThroughTheRouter("del");

    if (!AddClashingRoutes()) {
        std::fprintf(stderr, "cannot add the clashing routes\n");
        return 1;
    }
    // As the front end takes the clashing routes off and puts them back.
    const IPAddr router = inet_addr("192.168.1.1");
    const int bulkRounds = std::max(1, rounds / 50);
    std::vector<double> tables, removals, restorations, removalCpu, restorationCpu;
    std::size_t removed = 0;
    int removalRequests = 0, restorationRequests = 0, notBack = 0;
    for (int i = 0; i < bulkRounds; ++i) {
        std::vector<MIB_IPFORWARDROW> saved;
        channel.requests = 0;
        auto start = Clock::now();
        double cpu = CpuMs(process->Pid());
        ULONG bytes = 0;
        if (helper.GetIpForwardTable(nullptr, &bytes, FALSE) != ERROR_INSUFFICIENT_BUFFER) break;
        std::vector<BYTE> fetched(bytes);
        auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(fetched.data());
        if (helper.GetIpForwardTable(table, &bytes, FALSE) != NO_ERROR) break;
        tables.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        for (DWORD row = 0; row < table->dwNumEntries; ++row) {
            const MIB_IPFORWARDROW& entry = table->table[row];
            if (entry.dwForwardDest == 0 ||
                (entry.dwForwardMask & router) != (entry.dwForwardMask & entry.dwForwardDest))
                continue;
            // The lab's own clashing routes stay: the front end's removal takes its clashing
            // addresses off first, and the kernel most of those routes with them.
            if (entry.dwForwardMetric1 < kFirstMetric ||
                entry.dwForwardMetric1 >= kFirstMetric + kClashingRoutes)
                continue;
            if (helper.DeleteIpForwardEntry(&entry) == NO_ERROR) saved.push_back(entry);
        }
        removals.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        removalCpu.push_back(CpuMs(process->Pid()) - cpu);
        removalRequests = channel.requests;
        removed = saved.size();

        channel.requests = 0;
        start = Clock::now();
        cpu = CpuMs(process->Pid());
        for (auto row = saved.rbegin(); row != saved.rend(); ++row)
            if (helper.CreateIpForwardEntry(&*row) != NO_ERROR) ++notBack;
        restorations.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        restorationCpu.push_back(CpuMs(process->Pid()) - cpu);
        restorationRequests = channel.requests;
    }
    std::printf("%u clashing routes, over %d rounds (median):\n", kClashingRoutes, bulkRounds);
    std::printf("  the table's two calls %6.3f ms\n", MedianMs(tables));
    std::printf("  removal of %zu routes %8.1f ms (helper's processor %.1f ms), %d requests\n",
                removed, MedianMs(removals), MedianMs(removalCpu), removalRequests);
    std::printf(
        "  their restoration   %8.1f ms (helper's processor %.1f ms), %d requests, %d not "
        "put back\n",
        MedianMs(restorations), MedianMs(restorationCpu), restorationRequests, notBack);
    // A PC with a full routing table: the front end reads it whole, twice, in one request.
    if (!ManyRoutes("add")) {
        std::fprintf(stderr, "cannot add %d routes\n", kManyRoutes);
        return 1;
    }
    const auto startMany = Clock::now();
    ULONG bytes = 0;
    DWORD many = helper.GetIpForwardTable(nullptr, &bytes, FALSE);
    std::vector<BYTE> whole(bytes);
    auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(whole.data());
    if (many == ERROR_INSUFFICIENT_BUFFER) many = helper.GetIpForwardTable(table, &bytes, FALSE);
    std::printf("%d more routes: the table's two calls %.1f ms, status %lu, %lu rows\n",
                kManyRoutes,
                std::chrono::duration<double, std::milli>(Clock::now() - startMany).count(),
                static_cast<unsigned long>(many),
                static_cast<unsigned long>(many == NO_ERROR ? table->dwNumEntries : 0));
    ManyRoutes("del");
    std::printf("helper memory: peak resident%s, resident now%s\n",
                StatusLine(process->Pid(), "VmHWM").c_str(),
                StatusLine(process->Pid(), "VmRSS").c_str());
    helper.End();
    return 0;
}
