// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-tftp-put: uploads one image to the boot loader at 192.168.1.1 with the product's own
// TFTP client, for the benchmark and for trying the lab by hand. Run it only inside the lab's PC
// namespace ("ip netns exec $LAB_PC kestrel-tftp-put IMAGE [--debug]").
// Prints the diagnostic boxes to stderr (with --debug) and exits with the upload's result code.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "proto/proto.h"
#ifdef _WIN32
#include "platform/windows/network.h"
#include "platform/wintypes.h"
#else
#include "platform/linux/services.h"
#endif

namespace {

class ConsoleWizard final : public kestrel::WizardContext {
public:
    void SetPage(int) override {}
    void SetStatusText(const std::string&) override {}
    void SetProgressPos(int) override {}
    void SetTimer1(unsigned) override {}
    void KillTimer1() override {}
    void MessageBox(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Built for Windows too, for the upload under Wine; every Windows program starts Winsock.
    kestrel::InstallWindowsServices();
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0) return 70;
#else
    kestrel::InstallLinuxServices();
#endif
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--debug") != 0)) {
        std::fprintf(stderr, "usage: kestrel-tftp-put IMAGE [--debug]\n");
        return 64;
    }
    ConsoleWizard wizard;
    wizard.m_hFirmwareFile = kestrel::OpenFirmwareImage(argv[1]);
    const char* slash = std::strrchr(argv[1], '/');
    const char* name = slash ? slash + 1 : argv[1];
    std::snprintf(wizard.m_szFirmwareName, sizeof wizard.m_szFirmwareName, "%s", name);
    wizard.m_bDebug = argc == 3;
    const int result = kestrel::TftpUploadFirmware(wizard);
    kestrel::CloseFirmwareImage(wizard.m_hFirmwareFile);
    return result;
}
