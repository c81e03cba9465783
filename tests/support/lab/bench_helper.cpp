// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Benchmark, not a test: the privileged helper's round trip per request and its memory. Run as
// root inside the lab's pc namespace (bench_helper.sh does): it starts the helper directly,
// times hello, the adapter and route reads, and adding and deleting the temporary address,
// then prints the medians and the helper's peak resident memory.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/helper_client.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string StatusLine(pid_t pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
    return "?";
}

double MedianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

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
    HelperIpHelper helper(*process);
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
    std::printf("helper memory: peak resident%s, resident now%s\n",
                StatusLine(process->Pid(), "VmHWM").c_str(),
                StatusLine(process->Pid(), "VmRSS").c_str());
    helper.End();
    return 0;
}
