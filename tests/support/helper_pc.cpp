// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/helper_pc.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "platform/iphlpapi.h"  // SetIpHelper
#include "platform/linux/netparams.h"

namespace kestrel::testing {

HelperPc::HelperPc(const std::string& pc) {
    char name[] = "/tmp/kestrel-pc-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("no temporary folder for the journal");
    folder_ = name;
    Restart();
    Add(pc);
}

HelperPc::~HelperPc() {
    SetIpHelper(nullptr);
    std::filesystem::remove_all(folder_);  // the journal's files go when it closes
}

void HelperPc::Add(const std::string& pc) {
    std::istringstream lines(pc);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind, rest;
        words >> kind >> std::ws;
        std::getline(words, rest);
        if (kind == "address") {
            kernel.PutAddress(rest);
        } else if (kind == "route") {
            kernel.PutRoute(rest);
        } else if (kind == "link") {
            KernelLink link;
            std::string how;
            std::istringstream(rest) >> link.index >> link.name >> how;
            link.description = link.name;
            link.mac = {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(link.index)};
            link.type = how == "wireless" ? IF_TYPE_IEEE80211
                        : how == "other"  ? MIB_IF_TYPE_OTHER
                                          : MIB_IF_TYPE_ETHERNET;
            link.up = link.carrier = how != "down";
            kernel.AddLink(link);
        } else {
            EXPECT_TRUE(kind.empty()) << "not a line of a PC: " << line;
        }
    }
}

bool HelperPc::Restart() {
    session_.reset();  // before the journal it writes to, which the next one locks again
    journal_.reset();
    std::string why;
    journal_ = Journal::Open(folder_ + "/journal", why);
    if (!journal_) throw std::runtime_error(why);
    session_ = std::make_unique<HelperSession>(
        kernel, *journal_, [this](const std::string& line) { systemLog_.push_back(line); });
    client_ = std::make_unique<HelperIpHelper>(*this, LinuxGetNetworkParams);
    SetIpHelper(client_.get());
    return journal_->Entries().empty() || session_->RestoreAll().empty();
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
