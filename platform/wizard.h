// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard as the jobs see it: the dialog's members that jobs and network operations read and
// write, and the few things a job may do to the window. The Qt dialog implements it; tests use a
// recording double. Every call completes on the UI thread before it returns.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/threads.h"
#include "platform/wintypes.h"

namespace kestrel {

enum : int {
    PAGE_WELCOME = 0,
    PAGE_WORKING = 1,
    PAGE_ROUTER_OK = 2,
    PAGE_SUCCESS = 3,
    PAGE_FAILED = 4,
};

// The router's login host name, asked by the probe and the resolver check, and its login page.
inline constexpr char kSetupHostName[] = "router.kestrel.home";
inline constexpr char kSetupPageUrl[] = "http://router.kestrel.home";

struct SavedAddress;
struct SavedRoute;

class WizardContext {
public:
    virtual ~WizardContext() = default;

    // What a job may do to the window.
    virtual void SetPage(int page) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetProgressPos(int position) = 0;    // sets the main bar outright
    virtual void SetTimer1(unsigned intervalMs) = 0;  // starts or re-arms timer 1
    virtual void KillTimer1() = 0;
    // A modal box owned by the dialog, OK button only; returns when dismissed.
    virtual void MessageBox(const std::string& text, const std::string& caption) = 0;

    void RaiseProgressTarget(int delta) { m_nProgressTarget.fetch_add(delta); }

    // Members shared with the jobs. Texts are in the locale's character set.
    int m_nPage = PAGE_WELCOME;  // the last page other than PAGE_WORKING shown
    // Held by the UI thread while it starts a worker and stores its handle, and by the worker
    // while it closes and clears it, so the worker never reads the handle before it is stored.
    std::mutex m_workerLock;
    HANDLE m_hWorker = nullptr;
    SavedAddress* m_pSavedAddresses = nullptr;
    SavedRoute* m_pSavedRoutes = nullptr;
    char m_szFirmwareName[256] = {};
    // The image, opened once at start-up (OpenFirmwareImage) and kept open; -1 when none.
    int m_hFirmwareFile = -1;
    int m_nRebootTimeout = 120000;
    std::atomic<int> m_nProgressTarget{0};
    BOOL m_bDebug = FALSE;
};

}  // namespace kestrel
