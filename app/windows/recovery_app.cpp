// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/recovery_app.h"

#include <commctrl.h>
#include <shellapi.h>
#include <winsock2.h>

#include <memory>
#include <vector>

#include "app/windows/recovery_dlg.h"
#include "app/windows/resource.h"
#include "app/windows/wide_text.h"
#include "engine/command_line.h"
#include "engine/pages.h"
#include "platform/process.h"
#include "platform/windows/helper_process.h"

namespace kestrel {
namespace {

// Windows Sockets 1.1, as both bytes of the version granted must say.
bool StartSockets() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
    if (LOBYTE(data.wVersion) == 1 && HIBYTE(data.wVersion) == 1) return true;
    WSACleanup();
    WSASetLastError(WSAVERNOTSUPPORTED);
    return false;
}

std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    // Length 0 asks for a pointer into the resource itself, which is not terminated.
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

void Tell(const std::wstring& text, UINT icon) {
    MessageBoxW(nullptr, text.c_str(), ApplicationName().c_str(), MB_OK | icon);
}

// --choose and the image's path come out of the arguments; without --choose the command line
// stays exactly as the system gave it.
bool TakeChoose(std::string& imageArgument) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return false;
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    if (!TakeChooseOption(arguments, imageArgument)) return false;
    SetCommandLine(arguments);
    return true;
}

}  // namespace

std::wstring ApplicationName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path);
    if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos)
        name.erase(0, slash + 1);
    if (const auto dot = name.rfind(L'.'); dot != std::wstring::npos) name.erase(dot);
    return name;
}

int CKSTLDevRecoveryApp::Run() {
    InitInstance();
    return m_nExitStatus;
}

BOOL CKSTLDevRecoveryApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    if (!StartSockets()) {
        Tell(LoadResourceString(IDS_SOCKETS_INIT_FAILED), 0);
        m_nExitStatus = EXIT_NOT_STARTED;
        return FALSE;
    }

    SetCommandLine(0, nullptr);  // the system's own command line; --choose may replace it
    CKSTLDevRecoveryDlg dlg;
    std::string imageArgument;
    if (TakeChoose(imageArgument)) dlg.ChooseImage(imageArgument);

    // The manifest has made this process an administrator's. The helper is its child over
    // pipes: when this process ends in any way, the helper's input ends and it puts back what
    // is still changed.
    std::string why;
    std::unique_ptr<PrivilegedHelper> helper = PrivilegedHelper::Start(why);
    if (!helper) {
        Tell(Widen("The helper that changes the network settings could not be started: " + why +
                   "."),
             MB_ICONERROR);
        m_nExitStatus = EXIT_NOT_STARTED;
        return FALSE;
    }

    if (dlg.DoModal() == CKSTLDevRecoveryDlg::kStartupFailed) {
        m_nExitStatus = EXIT_NOT_STARTED;
        return FALSE;
    }
    m_nExitStatus = dlg.ExitStatus();
    const HelperAccount account = helper->End();
    std::string text;
    for (const std::string& line : account.Lines()) text += line + "\n";
    if (!text.empty()) Tell(Widen(text), MB_ICONWARNING);
    if (!account.AllBack()) m_nExitStatus = EXIT_NOT_RESTORED;
    return FALSE;
}

}  // namespace kestrel
