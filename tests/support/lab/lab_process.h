// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the lab tests: start programs inside the router namespace, read the simulator's
// event log, and make throw-away images. The tests themselves run inside the PC namespace.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::lab {

// Name of a lab namespace from the environment lab.sh sets ("LAB_ROUTER", "LAB_PC").
std::string LabNamespace(const char* variable);

// Runs `args` inside the router namespace and waits for it (at most 10 s); its exit status.
int RunInRouter(const std::vector<std::string>& args);

// A program started inside the router namespace (or the lab namespace that `where` names) and
// ended (SIGTERM, then SIGKILL) when the object goes.
class RouterProcess {
public:
    explicit RouterProcess(const std::vector<std::string>& args, const char* where = "LAB_ROUTER");
    ~RouterProcess();
    RouterProcess(const RouterProcess&) = delete;
    RouterProcess& operator=(const RouterProcess&) = delete;

    void Stop();

private:
    pid_t pid_ = -1;
};

// A fresh folder under /tmp that anyone may write (tftpd drops its rights), removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One line of the simulator's log, split into its key=value fields.
struct SimEvent {
    double t = 0;
    std::string kind;  // ready, tftp, image, dns, mode
    std::string at, name;
    long port = -1, op = -1, block = -1, len = -1, size = -1;
};

// The router simulator with its log in `dir`; waits until it listens.
class RouterSim {
public:
    RouterSim(const TempDir& dir, const std::vector<std::string>& options,
              const std::string& tag = "sim");
    std::vector<SimEvent> Events() const;
    std::vector<SimEvent> Tftp(long op) const;  // tftp events with this opcode

private:
    std::string log_;
    RouterProcess process_;
};

// Waits until `predicate` holds or `limit` passes; whether it held.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<unsigned char> MakeImage(std::size_t size, unsigned seed);
void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadFile(const std::string& path);

}  // namespace kestrel::lab
