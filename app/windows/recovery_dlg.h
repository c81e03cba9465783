// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard dialog on Windows: dialog template 102 run modally, five pages on one window, the
// worker's calls carried out on the UI thread by SendMessage, and timer 1 moving the bar.
//
// Which page shows can be read from outside by the texts of the visible controls: the
// description (control 1002) holds the page's text, and the right-hand button (IDOK) reads
// "Next", "Quit" or "Retry"; on the working page both buttons are hidden and the status line
// (control 1005) is visible.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "app/windows/color_progress_ctrl.h"
#include "engine/command_line.h"
#include "engine/wizard_flow.h"
#include "platform/wintypes.h"

namespace kestrel {

class CKSTLDevRecoveryDlg final : public WizardFlow {
public:
    // The thread entries receive the WizardContext; tests pass scripted jobs.
    explicit CKSTLDevRecoveryDlg(ThreadEntry statusCheckEntry = StatusCheckThread,
                                 ThreadEntry recoveryEntry = RecoveryThread);
    ~CKSTLDevRecoveryDlg() override;
    CKSTLDevRecoveryDlg(const CKSTLDevRecoveryDlg&) = delete;
    CKSTLDevRecoveryDlg& operator=(const CKSTLDevRecoveryDlg&) = delete;

    // Runs the dialog until it ends. IDOK or IDCANCEL; -1 when start-up found no usable image
    // (StartupFailure() says why) and the process must end with exit status 1.
    INT_PTR DoModal();
    const std::string& StartupFailure() const { return m_strStartupFailure; }
    // --choose, before DoModal: `fileArgument` names the image by its path; without it and
    // without a switch naming one, the user is asked for it.
    void ChooseImage(std::string fileArgument);

    // WizardContext: callable from the worker; each completes on the UI thread.
    void SetPage(int page) override;
    void SetStatusText(const std::string& text) override;
    void SetProgressPos(int position) override;
    void SetTimer1(unsigned intervalMs) override;
    void KillTimer1() override;
    void MessageBox(const std::string& text, const std::string& caption) override;

    static constexpr INT_PTR kStartupFailed = -1;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    void DoDataExchange();
    void OnNext();
    void OnQuit();
    void OnTimer(UINT_PTR id);
    BOOL OnPaint();
    HICON OnQueryDragIcon() const { return m_hIcon; }
    HBRUSH OnCtlColor(HDC dc, HWND control, int type);
    void CreateFonts();
    void SetPageNow(int page);
    void ShowBox(const std::wstring& text, const std::wstring& caption);
    // `call` on the UI thread, returning when it is done there.
    void OnUiThread(const std::function<void()>& call);

    // WizardFlow: how the dialog ends, and the worker's end as a message to the UI thread.
    void EndWizard(bool accepted) override;
    void OpenLoginPage() override;
    void PostWorkerEnded() override;
    void ShowStopping() override;
    void ExitNow(int status) override;

public:
    // The members of the wizard, in their order (the shared ones come from WizardContext).
    HICON m_hIcon = nullptr;
    HWND m_ctlTitle = nullptr;
    HWND m_ctlRule = nullptr;
    HWND m_ctlDescription = nullptr;
    CColorProgressCtrl m_ctlProgress;
    HWND m_ctlStatus = nullptr;
    HWND m_ctlProgressAux = nullptr;

private:
    HWND m_hWnd = nullptr;
    DWORD m_uiThread = 0;
    HBRUSH m_whiteBrush = nullptr;
    HFONT m_titleFont = nullptr;
    HFONT m_ruleFont = nullptr;
    ImageChoice m_choice;
    bool m_bChoose = false;
    std::string m_strStartupFailure;
    // The worker's last word, also when the window is already gone and cannot be told.
    std::atomic<bool> m_bWorkerEnded{false};
};

}  // namespace kestrel
