// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real wizard dialog through one scenario, pressing its buttons as a user would,
// printing each status line and page as it changes, and optionally saving a screenshot of every
// page. Runs inside the lab's pc namespace only (see tests/support/lab/run_row.sh and
// scripts/demo).
//
//   kestrel-wizard-driver --expect PAGE [--press BUTTONS] [--shots DIR] [--timeout S]
//                         -- WIZARD-ARGUMENTS...
//
//   PAGE     the page every job must end on: router-ok, success or failed; or
//            stopped   a quit signal from outside ends the wizard after the presses;
//            refused   the whole program runs, as the user it was started as, and must be
//                      refused the rights: its box is answered, and its exit status returned.
//   BUTTONS  the buttons pressed in turn, comma separated: next, retry, quit. Each must be on
//            screen with that label; a press that starts a job waits for PAGE. The dialog must
//            have ended after the last one, unless PAGE is stopped. Default: next,quit for
//            router-ok, next,next for success, next,retry,quit for failed, next for stopped.
//   A success page records nothing; a failure page records what was taken off, and a retry
//   keeps exactly that; next on the success page opens the router's login page.
// Exit status 0 when the scenario went as expected; for stopped, 128 + the signal's number;
// for refused, the program's own.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/recovery_app.h"
#include "app/recovery_dlg.h"
#include "netcfg/netcfg.h"
#include "platform/linux/privileges.h"
#include "platform/linux/services.h"
#include "platform/process.h"

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
    std::vector<std::string> presses;
    QString shots;
    int timeoutSeconds = 300;
    std::vector<char*> wizardArgs;
};

std::vector<std::string> DefaultPresses(const std::string& expect) {
    if (expect == "router-ok") return {"next", "quit"};
    if (expect == "success") return {"next", "next"};
    if (expect == "failed") return {"next", "retry", "quit"};
    if (expect == "stopped") return {"next"};
    return {};
}

bool Parse(int argc, char** argv, Options& options) {
    options.wizardArgs.push_back(argv[0]);
    bool pressesGiven = false;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string arg = argv[i];
        if (arg == "--expect" && i + 1 < argc) {
            options.expect = argv[++i];
        } else if (arg == "--press" && i + 1 < argc) {
            pressesGiven = true;
            std::istringstream list(argv[++i]);
            for (std::string press; std::getline(list, press, ',');)
                if (press != "-") options.presses.push_back(press);
        } else if (arg == "--shots" && i + 1 < argc) {
            options.shots = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--timeout" && i + 1 < argc) {
            options.timeoutSeconds = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    for (++i; i < argc; ++i) options.wizardArgs.push_back(argv[i]);
    if (!pressesGiven) options.presses = DefaultPresses(options.expect);
    for (const std::string& press : options.presses)
        if (press != "next" && press != "retry" && press != "quit") return false;
    return options.expect == "router-ok" || options.expect == "success" ||
           options.expect == "failed" || options.expect == "stopped" || options.expect == "refused";
}

int PageNumber(const std::string& name) {
    for (int page = PAGE_WELCOME; page <= PAGE_FAILED; ++page)
        if (name == PageName(page)) return page;
    return -1;
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
    bool Ended() const { return ended_; }
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

// Answers the boxes the program opens before its dialog: it would otherwise wait for a user.
bool answerBoxes = false;
void AnswerBoxes() {
    if (!answerBoxes) return;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        std::printf("box %s: %s\n", box->windowTitle().toStdString().c_str(),
                    box->text().toStdString().c_str());
        std::fflush(stdout);
        box->accept();
    });
    timer->start(100);
}
Q_COREAPP_STARTUP_FUNCTION(AnswerBoxes)

// The program as its main() runs it, for a user who is refused the rights.
int RunRefused(Options& options) {
    answerBoxes = true;
    int argc = static_cast<int>(options.wizardArgs.size());
    CKSTLDevRecoveryApp app(argc, options.wizardArgs.data());
    const int status = app.Run();
    std::printf("exit status %d\n", status);
    return status;
}

// Presses `press` on the page on screen; false when no button with that label is shown.
bool Press(Driver& driver, CKSTLDevRecoveryDlg& dlg, const std::string& press) {
    QPushButton& ok = dlg.OkButton();
    QPushButton& cancel = dlg.CancelButton();
    QPushButton* button = &ok;
    if (press == "quit" && cancel.isVisible()) button = &cancel;
    const QString label = press == "next" ? "Next" : press == "retry" ? "Retry" : "Quit";
    if (!button->isVisible() || button->text() != label)
        return driver.Fail("no " + label.toStdString() + " button on page " +
                           PageName(dlg.PageOnScreen()));
    driver.Press(*button, press.c_str());
    return true;
}

int Run(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: kestrel-wizard-driver --expect router-ok|success|failed|stopped|"
                     "refused [--press next,retry,quit] [--shots DIR] [--timeout S] -- "
                     "WIZARD-ARGUMENTS...\n");
        return 2;
    }
    if (options.expect == "refused") return RunRefused(options);
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

    const int expected = PageNumber(options.expect);
    int addresses = 0;
    int routes = 0;
    for (const std::string& press : options.presses) {
        const int from = dlg.PageOnScreen();
        if (!Press(driver, dlg, press)) return 1;
        const bool startsJob = from == PAGE_WELCOME ? press == "next" : press == "retry";
        if (!startsJob) {
            if (!driver.WaitForEnd()) return 1;
            if (from == PAGE_SUCCESS && driver.OpenedUrl() != kSetupPageUrl)
                return driver.Fail("Next did not open " + std::string(kSetupPageUrl)), 1;
            if (from == PAGE_FAILED && (dlg.m_pSavedAddresses || dlg.m_pSavedRoutes))
                return driver.Fail("Quit did not put the settings back"), 1;
            continue;
        }
        if (expected < 0) continue;  // stopped: the signal comes while the job runs
        if (!driver.WaitFor(expected)) return 1;
        const int nowAddresses = Count(dlg.m_pSavedAddresses);
        const int nowRoutes = Count(dlg.m_pSavedRoutes);
        driver.Say(QString::asprintf("ended in %.1f s; recorded: %d addresses, %d routes",
                                     driver.Seconds(), nowAddresses, nowRoutes)
                       .toStdString());
        if (expected != PAGE_FAILED && (nowAddresses || nowRoutes))
            return driver.Fail("settings still recorded after the job"), 1;
        if (expected == PAGE_FAILED && nowAddresses == 0)
            return driver.Fail("a failed run left nothing recorded"), 1;
        if (press == "retry" && (nowAddresses != addresses || nowRoutes != routes))
            return driver.Fail("the retry changed what is recorded"), 1;
        addresses = nowAddresses;
        routes = nowRoutes;
    }
    if (options.expect == "stopped") {
        if (!driver.WaitForEnd()) return 1;
        if (!dlg.QuitSignal()) return driver.Fail("the dialog ended without a quit signal"), 1;
        if (dlg.m_pSavedAddresses || dlg.m_pSavedRoutes)
            return driver.Fail("settings still recorded after the stop"), 1;
        driver.Say("ended by signal " + std::to_string(dlg.QuitSignal()));
        return 128 + dlg.QuitSignal();
    }
    if (!driver.Ended()) return driver.Fail("the dialog is still open after the last press"), 1;
    driver.Say("scenario " + options.expect + " done");
    return 0;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    kestrel::InstallLinuxServices();
    return kestrel::Run(argc, argv);
}
