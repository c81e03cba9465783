// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipc/privileged_helper.h"

#include <algorithm>
#include <utility>

namespace kestrel {

PrivilegedHelper::PrivilegedHelper(std::unique_ptr<HelperChannel> channel, Launcher launch,
                                   NetworkParamsReader networkParams, std::string restore,
                                   std::vector<std::string> left)
    : launch_(std::move(launch)),
      networkParams_(networkParams),
      channel_(std::move(channel)),
      ipHelper_(*channel_, networkParams),
      before_(&CurrentIpHelper()) {
    account_.restore = std::move(restore);
    account_.notRestored = std::move(left);
    ipHelper_.OnLost([this] { Replace(); });
}

PrivilegedHelper::~PrivilegedHelper() {
    End();
}

void PrivilegedHelper::Replace() {
    account_.lost = true;
    std::vector<std::string> left;
    std::unique_ptr<HelperChannel> channel = launch_(account_.why, left);
    std::vector<std::string> after;
    if (channel) {
        HelperIpHelper fresh(*channel, networkParams_);
        if (!fresh.End(after)) account_.why = "the new helper did not answer";
    }
    for (const std::string& line : after)
        if (std::find(left.begin(), left.end(), line) == left.end()) left.push_back(line);
    account_.notRestored.insert(account_.notRestored.end(), left.begin(), left.end());
    account_.unknown = !channel || !account_.why.empty();
}

HelperAccount PrivilegedHelper::End() {
    if (ended_) return account_;
    ended_ = true;
    SetIpHelper(before_);
    account_.unjournaled = ipHelper_.Unjournaled();
    std::vector<std::string> left;
    if (!ipHelper_.Lost()) {
        if (ipHelper_.End(left))
            account_.notRestored.insert(account_.notRestored.end(), left.begin(), left.end());
        else
            Replace();
    }
    return account_;
}

}  // namespace kestrel
