// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/windows/helper_process.h"

#include <algorithm>
#include <vector>

#include "platform/windows/network.h"
#include "platform/windows/text.h"

namespace kestrel {
namespace {

constexpr DWORD kHelperEndWaitMs = 15000;
// Anonymous pipes have no overlapped reads: a reply is waited for by looking, this often.
constexpr DWORD kReplyPollMs = 5;

std::string Failure(const char* what, DWORD error) {
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

bool WriteAll(HANDLE pipe, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD wrote = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        if (!::WriteFile(pipe, text.data() + done, chunk, &wrote, nullptr) || wrote == 0)
            return false;
        done += wrote;
    }
    return true;
}

void Close(HANDLE& handle) {
    if (handle) ::CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

std::wstring HelperPath() {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (length == 0) return L"kestrel-recovery-helper.exe";
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"kestrel-recovery-helper.exe";
}

std::unique_ptr<HelperProcess> HelperProcess::Start(const std::wstring& program,
                                                    const std::wstring& arguments,
                                                    std::string& why) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE childInput = nullptr, toHelper = nullptr, fromHelper = nullptr, childOutput = nullptr;
    if (!::CreatePipe(&childInput, &toHelper, &inheritable, 0) ||
        !::CreatePipe(&fromHelper, &childOutput, &inheritable, 0)) {
        why = Failure("the pipes to the helper cannot be made", ::GetLastError());
        Close(childInput);
        Close(toHelper);
        return nullptr;
    }
    // Our ends stay ours: a child holding one would keep the helper's input open after we end.
    ::SetHandleInformation(toHelper, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fromHelper, HANDLE_FLAG_INHERIT, 0);

    // Only the child's two ends are inherited, whatever else this process holds inheritable.
    HANDLE inherited[] = {childInput, childOutput};
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<std::uint64_t> storage((size + 7) / 8);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    bool started = ::InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
                   ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                               inherited, sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput;
    startup.StartupInfo.hStdOutput = childOutput;
    startup.StartupInfo.hStdError = nullptr;  // it logs elsewhere: no third handle
    startup.lpAttributeList = attributes;
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    PROCESS_INFORMATION child{};
    started = started && ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                          TRUE, EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW,
                                          nullptr, nullptr, &startup.StartupInfo, &child);
    const DWORD error = ::GetLastError();
    ::DeleteProcThreadAttributeList(attributes);
    Close(childInput);
    Close(childOutput);
    if (!started) {
        why = Failure("the privileged helper cannot be started", error);
        Close(toHelper);
        Close(fromHelper);
        return nullptr;
    }
    ::CloseHandle(child.hThread);
    return std::unique_ptr<HelperProcess>(new HelperProcess(child.hProcess, toHelper, fromHelper));
}

HelperProcess::~HelperProcess() {
    Close(toHelper_);
    Close(fromHelper_);
    // It may still be putting settings back; it goes on alone if that takes longer.
    ::WaitForSingleObject(process_, silent_ ? 0 : kHelperEndWaitMs);
    Close(process_);
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
        DWORD waiting = 0;
        // Fails once the helper's end is closed and everything it wrote has been read.
        if (!::PeekNamedPipe(fromHelper_, nullptr, 0, nullptr, &waiting, nullptr)) return false;
        if (waiting == 0) {
            if (limit_.count() >= 0 && std::chrono::steady_clock::now() >= deadline) {
                silent_ = true;
                return false;
            }
            ::Sleep(kReplyPollMs);
            continue;
        }
        char chunk[65536];
        DWORD got = 0;
        if (!::ReadFile(fromHelper_, chunk, std::min<DWORD>(waiting, sizeof chunk), &got,
                        nullptr) ||
            got == 0)
            return false;
        buffered_.append(chunk, got);
    }
}

namespace {

constexpr std::chrono::seconds kRequestLimit(10);

// The helper, greeted. Null, with the reason: the helper's own when it gave one (another
// recovery runs here), else what failed.
std::unique_ptr<HelperProcess> Launch(std::string& why, std::vector<std::string>& left) {
    const std::wstring path = HelperPath();
    std::unique_ptr<HelperProcess> process = HelperProcess::Start(path, L"", why);
    if (!process) return nullptr;
    HelperIpHelper greeter(*process, WindowsGetNetworkParams);
    if (!greeter.Hello(why, left)) {
        if (why.empty()) why = "the privileged helper " + Utf8(path) + " did not start";
        return nullptr;
    }
    process->SetTimeLimit(kRequestLimit);
    return process;
}

}  // namespace

std::unique_ptr<PrivilegedHelper> PrivilegedHelper::Start(std::string& why) {
    std::vector<std::string> left;
    std::unique_ptr<HelperProcess> process = Launch(why, left);
    if (!process) return nullptr;
    std::unique_ptr<PrivilegedHelper> helper(
        new PrivilegedHelper(std::move(process), Launch, WindowsGetNetworkParams,
                             "\"" + Utf8(HelperPath()) + "\" --restore", std::move(left)));
    helper->Install();
    return helper;
}

}  // namespace kestrel
