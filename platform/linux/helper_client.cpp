// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/helper_client.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "ipc/fd_io.h"

extern char** environ;

namespace kestrel {
namespace {

constexpr auto kHelperEndWait = std::chrono::seconds(15);

}  // namespace

HelperProcess::HelperProcess(pid_t pid, int toHelper, int fromHelper)
    : pid_(pid), toHelper_(toHelper), fromHelper_(fromHelper) {}

std::unique_ptr<HelperProcess> HelperProcess::Start(const std::vector<std::string>& argv,
                                                    std::string& why) {
    int toHelper[2];
    int fromHelper[2];
    if (::pipe2(toHelper, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    if (::pipe2(fromHelper, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        ::close(toHelper[0]);
        ::close(toHelper[1]);
        return nullptr;
    }
    // The front end ignores SIGPIPE, and ignored signals would pass to the helper.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHelper[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromHelper[1], STDOUT_FILENO);

    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(toHelper[0]);
    ::close(fromHelper[1]);
    if (failed) {
        why = argv[0] + ": " + std::strerror(failed);
        ::close(toHelper[1]);
        ::close(fromHelper[0]);
        return nullptr;
    }
    return std::unique_ptr<HelperProcess>(new HelperProcess(pid, toHelper[1], fromHelper[0]));
}

HelperProcess::~HelperProcess() {
    ::close(toHelper_);
    ::close(fromHelper_);
    // It may still be putting settings back; it goes on alone if that takes longer.
    const auto deadline =
        std::chrono::steady_clock::now() + (silent_ ? std::chrono::seconds(0) : kHelperEndWait);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

bool HelperProcess::Exchange(const std::string& request, std::string& reply) {
    const auto deadline = std::chrono::steady_clock::now() + limit_;
    // A helper that would not serve may have said why and ended before it read the request.
    const bool wrote = WriteAll(toHelper_, request + "\n");
    for (;;) {
        const std::size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            reply = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return wrote || !reply.empty();
        }
        if (limit_.count() >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{fromHelper_, POLLIN, 0};
            const int polled = ::poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0)));
            if (polled < 0 && errno == EINTR) continue;
            if (polled == 0) silent_ = true;
            if (polled <= 0) return false;
        }
        char chunk[65536];
        const ssize_t got = ::read(fromHelper_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffered_.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace kestrel
