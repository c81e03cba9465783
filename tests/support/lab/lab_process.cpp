// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/lab/lab_process.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kestrel::lab {
namespace {

pid_t Spawn(const std::vector<std::string>& args, const char* where = "LAB_ROUTER") {
    std::vector<std::string> full{"ip", "netns", "exec", LabNamespace(where)};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// The exit status of `pid` once it ended within `limit`, else -1 (and it keeps running).
int Reap(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
    if (!ended) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string LabNamespace(const char* variable) {
    const char* name = std::getenv(variable);
    if (!name || !*name)
        throw std::runtime_error(std::string(variable) + " is not set: run in lab.sh");
    return name;
}

int RunInRouter(const std::vector<std::string>& args) {
    const pid_t pid = Spawn(args);
    if (pid < 0) return -1;
    const int status = Reap(pid, std::chrono::seconds(10));
    if (status < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return status;
}

RouterProcess::RouterProcess(const std::vector<std::string>& args, const char* where)
    : pid_(Spawn(args, where)) {}

RouterProcess::~RouterProcess() {
    Stop();
}

void RouterProcess::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (Reap(pid_, std::chrono::seconds(3)) < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/kestrel-lab-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::permissions(path_, std::filesystem::perms::all);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::vector<std::string> SimCommand(const std::string& log, const std::vector<std::string>& o) {
    std::vector<std::string> command{KESTREL_ROUTER_SIM, "--log", log, "--max-seconds", "40"};
    command.insert(command.end(), o.begin(), o.end());
    return command;
}

}  // namespace

RouterSim::RouterSim(const TempDir& dir, const std::vector<std::string>& options,
                     const std::string& tag)
    : log_(dir.File(tag + ".log")), process_(SimCommand(log_, options)) {
    const bool ready = WaitFor(
        [&] {
            const auto events = Events();
            return !events.empty() && events.front().kind == "ready";
        },
        std::chrono::seconds(5));
    if (!ready) throw std::runtime_error("the router simulator did not start: " + log_);
}

std::vector<SimEvent> RouterSim::Events() const {
    std::vector<SimEvent> events;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field;
        SimEvent event;
        while (fields >> field) {
            const auto eq = field.find('=');
            if (eq == std::string::npos) {
                if (event.kind.empty()) event.kind = field;  // "mode normal": the kind is "mode"
                continue;
            }
            const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
            if (key == "t")
                event.t = std::stod(value);
            else if (key == "at")
                event.at = value;
            else if (key == "name")
                event.name = value;
            else if (key == "port")
                event.port = std::stol(value);
            else if (key == "op")
                event.op = std::stol(value);
            else if (key == "block")
                event.block = std::stol(value);
            else if (key == "len")
                event.len = std::stol(value);
            else if (key == "size")
                event.size = std::stol(value);
        }
        events.push_back(event);
    }
    return events;
}

std::vector<SimEvent> RouterSim::Tftp(long op) const {
    std::vector<SimEvent> selected;
    for (const auto& e : Events()) {
        if (e.kind == "tftp" && e.op == op) selected.push_back(e);
    }
    return selected;
}

std::vector<unsigned char> MakeImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kestrel::lab
