// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/recovery_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdlib>

#include "app/windows/resource.h"
#include "app/windows/wide_text.h"
#include "engine/pages.h"
#include "engine/progress_plan.h"
#include "netcfg/netcfg.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kestrel {
namespace {

constexpr UINT_PTR kTimerId = 1;
// A call from the worker, carried out on the UI thread: lParam points to a std::function.
constexpr UINT kCallMessage = WM_APP + 1;
constexpr UINT kWorkerEndedMessage = WM_APP + 2;

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kTitleColour = RGB(0, 153, 204);
constexpr int kTitleCellHeight = 24;   // logical units at 96 dpi
constexpr int kRulePointTenths = 150;  // 15.0 points
constexpr int kDesignDpi = 96;

// The run-time rectangles, in pixels of the client area at 96 dpi.
constexpr RECT kDescriptionRect{30, 90, 420, 150};  // x, y, width, height
constexpr RECT kProgressRect{55, 200, 350, 30};

struct PageRow {
    bool cancelShown;
    const wchar_t* okLabel;
};

// PAGE_WORKING has its own steps in SetPageNow.
constexpr PageRow kPages[] = {
    {true, L"Next"}, {false, nullptr}, {false, L"Quit"}, {false, L"Next"}, {true, L"Retry"},
};

std::wstring PageText(int page) {
    return WithCrLf(Widen(kPageTexts[page]));
}

}  // namespace

CKSTLDevRecoveryDlg::CKSTLDevRecoveryDlg(ThreadEntry statusCheckEntry, ThreadEntry recoveryEntry)
    : WizardFlow(statusCheckEntry, recoveryEntry),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_whiteBrush(CreateSolidBrush(kWhite)) {
    m_choice.askUser = [this]() -> std::string {
        wchar_t path[4 * MAX_PATH] = {};
        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = m_hWnd;
        dialog.lpstrFilter =
            L"Firmware images (*.bin; *.img; *.trx)\0*.bin;*.img;*.trx\0All files (*.*)\0*.*\0";
        dialog.lpstrFile = path;
        dialog.nMaxFile = static_cast<DWORD>(std::size(path));
        dialog.lpstrTitle = L"Choose the firmware image";
        dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
        return GetOpenFileNameW(&dialog) ? ToUtf8(path) : std::string();
    };
}

CKSTLDevRecoveryDlg::~CKSTLDevRecoveryDlg() {
    // The worker still touches this object until its last word. The window is gone by now, so
    // its calls into it return at once.
    while (WorkerActive() && !m_bWorkerEnded) ::Sleep(10);
    DiscardSavedSettings(*this);
    CloseFirmwareImage(m_hFirmwareFile);
    if (m_titleFont) DeleteObject(m_titleFont);
    if (m_ruleFont) DeleteObject(m_ruleFont);
    DeleteObject(m_whiteBrush);
}

void CKSTLDevRecoveryDlg::ChooseImage(std::string fileArgument) {
    m_bChoose = true;
    m_choice.fileArgument = std::move(fileArgument);
}

INT_PTR CKSTLDevRecoveryDlg::DoModal() {
    m_uiThread = GetCurrentThreadId();
    const INT_PTR result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_KESTRELRECOVERY_DIALOG),
                        nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

INT_PTR CALLBACK CKSTLDevRecoveryDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CKSTLDevRecoveryDlg*>(lParam)->m_hWnd = window;
    }
    auto* self = reinterpret_cast<CKSTLDevRecoveryDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CKSTLDevRecoveryDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<INT_PTR>(
                OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                           message == WM_CTLCOLORDLG ? CTLCOLOR_DLG : CTLCOLOR_STATIC));
        case WM_COMMAND:
            // Enter and Escape come as these commands too; the close box sends IDCANCEL.
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            if (LOWORD(wParam) == IDOK) OnNext();
            if (LOWORD(wParam) == IDCANCEL) OnQuit();
            return TRUE;
        case WM_TIMER:
            OnTimer(wParam);
            return FALSE;
        case WM_DPICHANGED:
            // The dialog manager scales the window and its controls; the two fonts are ours.
            CreateFonts();
            return FALSE;
        case kCallMessage:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return TRUE;
        case kWorkerEndedMessage:
            OnWorkerEnded();
            return TRUE;
        default:
            return FALSE;
    }
}

void CKSTLDevRecoveryDlg::DoDataExchange() {
    m_ctlTitle = GetDlgItem(m_hWnd, IDC_TITLE);
    m_ctlRule = GetDlgItem(m_hWnd, IDC_RULE);
    m_ctlDescription = GetDlgItem(m_hWnd, IDC_DESCRIPTION);
    m_ctlProgress.Attach(GetDlgItem(m_hWnd, IDC_PROGRESS));
    m_ctlStatus = GetDlgItem(m_hWnd, IDC_STATUS);
    m_ctlProgressAux = GetDlgItem(m_hWnd, IDC_PROGRESS_AUX);
}

BOOL CKSTLDevRecoveryDlg::OnInitDialog() {
    DoDataExchange();
    CreateFonts();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    const CommandLineSettings settings = ReadCommandLine(
        GetCommandLineW(), PlatformCommandLineEnvironment(), m_bChoose ? &m_choice : nullptr);
    ApplyCommandLine(settings, *this);
    for (const DiagnosticBox& box : settings.boxes) MessageBox(box.text, box.caption);
    if (!settings.ok) {
        // Ended before it was ever shown.
        m_strStartupFailure = settings.failure;
        EndDialog(m_hWnd, kStartupFailed);
        return FALSE;
    }

    // Pixels at 96 dpi; a scaled monitor gets them scaled like the rest of the dialog.
    UINT dpi = GetDpiForWindow(m_hWnd);
    if (dpi == 0) dpi = kDesignDpi;
    auto place = [dpi](HWND control, const RECT& r) {
        auto scaled = [dpi](LONG value) {
            return MulDiv(value, static_cast<int>(dpi), kDesignDpi);
        };
        SetWindowPos(control, nullptr, scaled(r.left), scaled(r.top), scaled(r.right),
                     scaled(r.bottom), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(m_ctlDescription, kDescriptionRect);
    place(m_ctlProgress.Window(), kProgressRect);
    place(m_ctlProgressAux, kProgressRect);

    m_ctlProgress.SetRange(0, kProgressUpper);
    m_ctlProgress.SetStep(kProgressStep);

    SetPageNow(PAGE_WELCOME);

    RECT frame;
    GetWindowRect(m_hWnd, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(m_hWnd, nullptr,
                 work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                 work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

void CKSTLDevRecoveryDlg::CreateFonts() {
    UINT dpi = m_hWnd ? GetDpiForWindow(m_hWnd) : 0;
    if (dpi == 0) dpi = kDesignDpi;
    // A positive height asks for the cell height, not the em size.
    HFONT title =
        CreateFontW(MulDiv(kTitleCellHeight, static_cast<int>(dpi), kDesignDpi), 0, 0, 0, FW_BOLD,
                    FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS,
                    CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_DONTCARE, L"Arial");
    LOGFONTW rule{};
    rule.lfHeight = -MulDiv(kRulePointTenths, static_cast<int>(dpi), 720);
    rule.lfCharSet = DEFAULT_CHARSET;
    lstrcpyW(rule.lfFaceName, L"Arial");
    HFONT ruleFont = CreateFontIndirectW(&rule);
    // A static control may select its own font after asking for its colours (Wine's does): it
    // gets the same font as its own, so that OnCtlColor's choice holds either way. The old
    // fonts go once nothing draws with them.
    SendMessageW(m_ctlTitle, WM_SETFONT, reinterpret_cast<WPARAM>(title), TRUE);
    SendMessageW(m_ctlRule, WM_SETFONT, reinterpret_cast<WPARAM>(ruleFont), TRUE);
    if (m_titleFont) DeleteObject(m_titleFont);
    if (m_ruleFont) DeleteObject(m_ruleFont);
    m_titleFont = title;
    m_ruleFont = ruleFont;
}

HBRUSH CKSTLDevRecoveryDlg::OnCtlColor(HDC dc, HWND control, int type) {
    HBRUSH brush = nullptr;
    if (type == CTLCOLOR_DLG || type == CTLCOLOR_STATIC) {
        SetBkColor(dc, kWhite);
        brush = m_whiteBrush;
    }
    if (control == m_ctlTitle) {
        SetTextColor(dc, kTitleColour);
        SelectObject(dc, m_titleFont);
    }
    if (control == m_ctlRule) {
        SetTextColor(dc, kTitleColour);
        SelectObject(dc, m_ruleFont);
    }
    return brush;
}

BOOL CKSTLDevRecoveryDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) return FALSE;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return TRUE;
}

void CKSTLDevRecoveryDlg::OnUiThread(const std::function<void()>& call) {
    if (GetCurrentThreadId() == m_uiThread)
        call();
    else if (m_hWnd)
        SendMessageW(m_hWnd, kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}

void CKSTLDevRecoveryDlg::SetPage(int page) {
    OnUiThread([this, page] { SetPageNow(page); });
}

void CKSTLDevRecoveryDlg::SetPageNow(int page) {
    HWND ok = GetDlgItem(m_hWnd, IDOK);
    HWND cancel = GetDlgItem(m_hWnd, IDCANCEL);
    PageShown(page);
    if (page == PAGE_WORKING) {
        m_bWorkerEnded = false;  // a job starts
        SetWindowTextW(m_ctlDescription, PageText(page).c_str());
        ShowWindow(m_ctlProgress.Window(), SW_SHOW);
        ShowWindow(m_ctlProgressAux, SW_SHOW);
        SetWindowTextW(m_ctlStatus, Widen(kCheckingText).c_str());
        ShowWindow(m_ctlStatus, SW_SHOW);
        ShowWindow(cancel, SW_HIDE);
        ShowWindow(ok, SW_HIDE);
        return;
    }
    const PageRow& row = kPages[page];
    if (page == PAGE_WELCOME) ShowWindow(m_ctlStatus, SW_HIDE);
    SetWindowTextW(m_ctlDescription, PageText(page).c_str());
    ShowWindow(m_ctlProgress.Window(), SW_HIDE);
    ShowWindow(m_ctlProgressAux, SW_HIDE);
    ShowWindow(m_ctlStatus, SW_HIDE);
    ShowWindow(cancel, row.cancelShown ? SW_SHOW : SW_HIDE);
    SetWindowTextW(ok, row.okLabel);
    ShowWindow(ok, SW_SHOW);
    // The keyboard follows the button that was hidden while the job ran.
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ok), TRUE);
}

void CKSTLDevRecoveryDlg::SetStatusText(const std::string& text) {
    OnUiThread([this, &text] {
        if (m_nQuitSignal) return;  // stopping says so until the end
        SetWindowTextW(m_ctlStatus, Widen(text).c_str());
    });
}

void CKSTLDevRecoveryDlg::SetProgressPos(int position) {
    OnUiThread([this, position] { m_ctlProgress.SetPos(position); });
}

// SetTimer with the same id replaces the running timer.
void CKSTLDevRecoveryDlg::SetTimer1(unsigned intervalMs) {
    OnUiThread([this, intervalMs] { ::SetTimer(m_hWnd, kTimerId, intervalMs, nullptr); });
}

void CKSTLDevRecoveryDlg::KillTimer1() {
    OnUiThread([this] { ::KillTimer(m_hWnd, kTimerId); });
}

void CKSTLDevRecoveryDlg::MessageBox(const std::string& text, const std::string& caption) {
    OnUiThread([this, &text, &caption] {
        if (m_nQuitSignal) return;  // nobody may hold up a stop
        ShowBox(Widen(text), Widen(caption));
    });
}

void CKSTLDevRecoveryDlg::ShowBox(const std::wstring& text, const std::wstring& caption) {
    ::MessageBoxW(m_hWnd, text.c_str(), caption.c_str(), MB_OK);
}

void CKSTLDevRecoveryDlg::OnNext() {
    if (!Next() && m_bDebug) MessageBox(kNoWorkerText, kNoWorkerCaption);
}

void CKSTLDevRecoveryDlg::OnQuit() {
    Quit();
}

void CKSTLDevRecoveryDlg::OnTimer(UINT_PTR) {
    if (TimerSteps(m_ctlProgress.GetPos(), m_nProgressTarget.load())) m_ctlProgress.StepIt();
}

void CKSTLDevRecoveryDlg::EndWizard(bool accepted) {
    ::KillTimer(m_hWnd, kTimerId);
    EndDialog(m_hWnd, accepted ? IDOK : IDCANCEL);
}

// EndDialog has only marked the dialog to end: it is gone once the handler returns, and the
// page opens with no owner window.
void CKSTLDevRecoveryDlg::OpenLoginPage() {
    ShellExecuteW(nullptr, L"open", Widen(kSetupPageUrl).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CKSTLDevRecoveryDlg::PostWorkerEnded() {
    m_bWorkerEnded = true;
    PostMessageW(m_hWnd, kWorkerEndedMessage, 0, 0);
}

void CKSTLDevRecoveryDlg::ShowStopping() {
    SetWindowTextW(m_ctlStatus, Widen(kStoppingText).c_str());
}

void CKSTLDevRecoveryDlg::ExitNow(int status) {
    std::_Exit(status);
}

}  // namespace kestrel
