// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What the wizard's pages say, whichever front end shows them, and the exit status a front end
// ends with: a script that runs either one can tell the outcome.
#pragma once

#include "platform/wizard.h"

namespace kestrel {

// Indexed by page; paragraphs are separated by an empty line.
inline constexpr const char* kPageTexts[] = {
    "In case of router firmware corruption (the power LED of the router will blink slowly and PC "
    "can's access the router any more), this KESTREL Router Firmware Recovery tool will restore "
    "the router with a working firmware.\n\nAfter the router has been recovered, you will need to "
    "reconfigure it with your network settings.\n\nThis operation may take 5~10 minutes",
    "Router recovering in progress, please wait. DO NOT turn off the power during this progress.",
    "The router is working normally, there is no need to recover.",
    "Congratulations!\n\nYou Router is successfully recovered.\n\nClick Next to configure the "
    "router again.",
    "Unforturnately, firmware recovery failed this time.\n\nClick Retry to try it again, or click "
    "Quit to exit this tool.",
};

// The status line through a job's phases, and from the first quit signal to the end.
inline constexpr char kCheckingText[] = "checking router status...";
inline constexpr char kConfiguringText[] = "configuring PC network settings...";
inline constexpr char kUploadingText[] = "uploading firmware to the router...";
inline constexpr char kRestoringText[] = "restoring PC network settings...";
inline constexpr char kRebootingText[] = "updating router firmware and rebooting router...";
inline constexpr char kStoppingText[] = "stopping, restoring PC network settings...";

// The diagnostic when a job's worker cannot be started.
inline constexpr char kNoWorkerText[] = "Create thread failed";
inline constexpr char kNoWorkerCaption[] = "Failed";

enum : int {
    EXIT_ROUTER_WORKS = 0,     // recovered, or already working
    EXIT_NOT_STARTED = 1,      // a start-up failure, the rights refused, or left before a run
    EXIT_RECOVERY_FAILED = 2,  // the PC's settings were put back
    EXIT_NOT_RESTORED = 3,     // the recovery ended, but some settings could not be put back
    EXIT_SIGNAL_BASE = 128,    // + the quit signal's number; the settings were put back
};

// `page` is the last page other than PAGE_WORKING, `quitSignal` the quit signal that ended the
// front end (0 for none). Leaving from the welcome page changed and checked nothing, so it
// counts as not started: neither a working router nor a failed recovery.
constexpr int ExitStatus(int page, int quitSignal) {
    if (quitSignal) return EXIT_SIGNAL_BASE + quitSignal;
    if (page == PAGE_ROUTER_OK || page == PAGE_SUCCESS) return EXIT_ROUTER_WORKS;
    if (page == PAGE_FAILED) return EXIT_RECOVERY_FAILED;
    return EXIT_NOT_STARTED;
}

}  // namespace kestrel
