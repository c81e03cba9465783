// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real wizard dialog through one scenario, pressing its buttons itself, printing
// each status line and page as it changes, and optionally saving a screenshot of every page.
// Runs inside the lab's pc namespace only (see e2e.sh and scripts/demo).
//
//   kestrel-wizard-driver --expect router-ok|success|failed|stopped [--shots DIR] [--timeout S]
//                         -- WIZARD-ARGUMENTS...
//
//   router-ok  Next, then the router-working page with nothing recorded; Quit.
//   success    Next, then the success page; Next must open the router's login page.
//   failed     Next, then the failure page; Retry must end there again with the same records
//              and no second removal; Quit puts them back.
//   stopped    Next, then a quit signal from outside ends the wizard with nothing recorded.
// Exit status 0 when the scenario went as expected; for stopped, 128 + the signal's number.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/recovery_dlg.h"
#include "netcfg/netcfg.h"
#include "platform/kernel.h"
#include "platform/privileges.h"

namespace kestrel {
namespace {

const char* PageName(int page) {
    static const char* const names[] = {"welcome", "working", "router-ok", "success", "failed"};
    return page >= 0 && page <= PAGE_FAILED ? names[page] : "?";
}

int Count(const SavedAddress* a) {
    int n = 0;
    for (; a; a = a->Next) ++n;
    return n;
}
int Count(const SavedRoute* r) {
    int n = 0;
    for (; r; r = r->Next) ++n;
    return n;
}

struct Options {
    std::string expect;
    QString shots;
    int timeoutSeconds = 300;
    std::vector<char*> wizardArgs;
};

bool Parse(int argc, char** argv, Options& options) {
    options.wizardArgs.push_back(argv[0]);
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string arg = argv[i];
        if (arg == "--expect" && i + 1 < argc)
            options.expect = argv[++i];
        else if (arg == "--shots" && i + 1 < argc)
            options.shots = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--timeout" && i + 1 < argc)
            options.timeoutSeconds = std::atoi(argv[++i]);
        else
            return false;
    }
    for (++i; i < argc; ++i) options.wizardArgs.push_back(argv[i]);
    return options.expect == "router-ok" || options.expect == "success" ||
           options.expect == "failed" || options.expect == "stopped";
}

class Driver {
public:
    Driver(CKSTLDevRecoveryDlg& dlg, const Options& options) : dlg_(dlg), options_(options) {
        clock_.start();
        QObject::connect(&dlg_, &CKSTLDevRecoveryDlg::StatusTextChanged, [this](const QString& s) {
            if (s == lastStatus_) return;
            lastStatus_ = s;
            Say("status: " + s.toStdString());
        });
        QObject::connect(&dlg_, &CKSTLDevRecoveryDlg::PageChanged, [this](int page) {
            Say(std::string("page: ") + PageName(page));
            // Let the page paint before it is photographed.
            QTimer::singleShot(300, &dlg_, [this, page] { Shoot(page); });
        });
        dlg_.SetUrlOpener([this](const QUrl& url) {
            openedUrl_ = url.toString().toStdString();
            Say("browser would open: " + openedUrl_);
        });
        dlg_.SetBoxPresenter([this](const QString& text, const QString& caption) {
            Say("box " + caption.toStdString() + ": " + text.toStdString());
        });
        QObject::connect(&dlg_, &QDialog::finished, [this] { ended_ = true; });
    }

    // Waits until the page on screen is `page` (and no job runs), pumping events.
    bool WaitFor(int page) {
        const qint64 limit = static_cast<qint64>(options_.timeoutSeconds) * 1000;
        while (clock_.elapsed() < limit) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            const int onScreen = dlg_.PageOnScreen();
            if (onScreen != page && onScreen != PAGE_WORKING && onScreen != PAGE_WELCOME &&
                !dlg_.JobRunning())
                return Fail(std::string("ended on page ") + PageName(onScreen) + ", not " +
                            PageName(page));
            if (onScreen == page && !dlg_.JobRunning()) {
                // Let the last screenshot happen.
                QElapsedTimer settle;
                settle.start();
                while (settle.elapsed() < 500)
                    QApplication::processEvents(QEventLoop::AllEvents, 50);
                return true;
            }
        }
        return Fail(std::string("timed out waiting for page ") + PageName(page) + ", on " +
                    PageName(dlg_.PageOnScreen()));
    }
    // Waits until the dialog has ended, pumping events.
    bool WaitForEnd() {
        const qint64 limit = static_cast<qint64>(options_.timeoutSeconds) * 1000;
        while (clock_.elapsed() < limit) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            if (ended_) return true;
        }
        return Fail("timed out waiting for the dialog to end");
    }
    void Press(QPushButton& button, const char* name) {
        Say(std::string("press: ") + name + " (" + button.text().toStdString() + ")");
        button.click();
    }
    bool Fail(const std::string& why) {
        Say("FAILED: " + why);
        return false;
    }
    const std::string& OpenedUrl() const { return openedUrl_; }
    void Say(const std::string& line) {
        std::printf("[%6.1f s] %s\n", static_cast<double>(clock_.elapsed()) / 1000.0, line.c_str());
        std::fflush(stdout);
    }
    double Seconds() const { return static_cast<double>(clock_.elapsed()) / 1000.0; }

private:
    void Shoot(int page) {
        if (options_.shots.isEmpty()) return;
        const QString name = QString::asprintf("%02d-%s.png", ++shots_, PageName(page));
        const QString path = QDir(options_.shots).filePath(name);
        if (dlg_.grab().save(path)) Say("screenshot: " + path.toStdString());
    }

    CKSTLDevRecoveryDlg& dlg_;
    const Options& options_;
    QElapsedTimer clock_;
    std::string openedUrl_;
    QString lastStatus_;
    int shots_ = 0;
    bool ended_ = false;
};

int Run(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: kestrel-wizard-driver --expect router-ok|success|failed|stopped "
                     "[--shots DIR] [--timeout S] -- WIZARD-ARGUMENTS...\n");
        return 2;
    }
    // As the wizard does: the helper first, then Qt.
    std::string why;
    const std::unique_ptr<PrivilegedHelper> helper = PrivilegedHelper::Start(why);
    if (!helper) {
        std::fprintf(stderr, "driver: %s\n", why.c_str());
        return 1;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    SetCommandLine(static_cast<int>(options.wizardArgs.size()), options.wizardArgs.data());

    CKSTLDevRecoveryDlg dlg;
    Driver driver(dlg, options);
    if (!dlg.OnInitDialog()) {
        driver.Fail("the wizard did not start: " + dlg.StartupFailure());
        return 1;
    }
    dlg.show();
    if (!driver.WaitFor(PAGE_WELCOME)) return 1;
    driver.Press(dlg.OkButton(), "Next");

    if (options.expect == "router-ok") {
        if (!driver.WaitFor(PAGE_ROUTER_OK)) return 1;
        if (dlg.m_pSavedAddresses || dlg.m_pSavedRoutes)
            return driver.Fail("settings were recorded although the router works"), 1;
        driver.Press(dlg.OkButton(), "Quit");
    } else if (options.expect == "success") {
        if (!driver.WaitFor(PAGE_SUCCESS)) return 1;
        driver.Say(QString::asprintf("recovered in %.1f s", driver.Seconds()).toStdString());
        if (dlg.m_pSavedAddresses || dlg.m_pSavedRoutes)
            return driver.Fail("settings still recorded after the recovery"), 1;
        driver.Press(dlg.OkButton(), "Next");
        if (driver.OpenedUrl() != kSetupPageUrl)
            return driver.Fail("Next did not open " + std::string(kSetupPageUrl)), 1;
    } else if (options.expect == "stopped") {
        if (!driver.WaitForEnd()) return 1;
        if (!dlg.QuitSignal()) return driver.Fail("the dialog ended without a quit signal"), 1;
        if (dlg.m_pSavedAddresses || dlg.m_pSavedRoutes)
            return driver.Fail("settings still recorded after the stop"), 1;
        driver.Say("ended by signal " + std::to_string(dlg.QuitSignal()));
        return 128 + dlg.QuitSignal();
    } else {
        if (!driver.WaitFor(PAGE_FAILED)) return 1;
        const int addresses = Count(dlg.m_pSavedAddresses);
        const int routes = Count(dlg.m_pSavedRoutes);
        driver.Say("recorded: " + std::to_string(addresses) + " addresses, " +
                   std::to_string(routes) + " routes");
        if (addresses == 0) return driver.Fail("a failed run left nothing recorded"), 1;
        driver.Press(dlg.OkButton(), "Retry");
        if (!driver.WaitFor(PAGE_FAILED)) return 1;
        if (Count(dlg.m_pSavedAddresses) != addresses || Count(dlg.m_pSavedRoutes) != routes)
            return driver.Fail("the retry changed what is recorded"), 1;
        driver.Press(dlg.CancelButton(), "Quit");
        if (dlg.m_pSavedAddresses || dlg.m_pSavedRoutes)
            return driver.Fail("Quit did not put the settings back"), 1;
    }
    driver.Say("scenario " + options.expect + " done");
    return 0;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    return kestrel::Run(argc, argv);
}
