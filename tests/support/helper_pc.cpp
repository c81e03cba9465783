// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/helper_pc.h"

#include <errno.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/iphlpapi.h"  // SetIpHelper

namespace kestrel::testing {

HelperPc::HelperPc() {
    char name[] = "/tmp/kestrel-pc-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("no temporary folder for the journal");
    folder_ = name;
    std::string why;
    journal_ = Journal::Open(folder_ + "/journal", why);
    if (!journal_) throw std::runtime_error(why);
    session_ = std::make_unique<HelperSession>(kernel, *journal_, [](const std::string&) {});
    client_ = std::make_unique<HelperIpHelper>(*this);
    SetIpHelper(client_.get());
}

HelperPc::~HelperPc() {
    SetIpHelper(nullptr);
    client_.reset();
    session_.reset();
    journal_.reset();
    std::filesystem::remove_all(folder_);
}

void HelperPc::RouterAnswersArpOn(std::vector<int> links) {
    kernel.SetArpResponder([links](int ifIndex, IPAddr, IPAddr, std::uint8_t(&)[6]) {
        return std::count(links.begin(), links.end(), ifIndex) ? 0 : -ETIMEDOUT;
    });
}

std::vector<std::string> HelperPc::World() const {
    std::vector<std::string> world = kernel.AddressTexts();
    for (const std::string& route : kernel.RouteTexts()) world.push_back(route);
    for (std::string& line : world) line = line.substr(0, line.find(" valid"));
    std::sort(world.begin(), world.end());
    return world;
}

std::vector<std::string> HelperPc::LogWith(const std::string& part) const {
    std::vector<std::string> lines;
    for (const std::string& line : kernel.Log())
        if (line.find(part) != std::string::npos) lines.push_back(line);
    return lines;
}

bool HelperPc::Exchange(const std::string& request, std::string& reply) {
    HelperRequest decoded;
    std::string why;
    if (!DecodeRequest(request, decoded, why)) return false;
    HelperReply answer;
    answer.id = decoded.id;
    answer.error = hook_ ? hook_(decoded) : NO_ERROR;
    reply = EncodeReply(decoded.op, answer.error == NO_ERROR ? session_->Handle(decoded) : answer);
    return true;
}

}  // namespace kestrel::testing
