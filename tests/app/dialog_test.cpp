// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard dialog: pages, buttons, the timer-driven bar, workers and quitting.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <functional>
#include <mutex>

#include "app/recovery_dlg.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "tests/app/image_folder.h"
#include "tests/support/network_isolation.h"

namespace kestrel {
namespace {

// Records the settings put back; the rest of the services are never used here.
class RecordingIpHelper : public IpHelper {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) override { return ERROR_NO_DATA; }
    DWORD AddIPAddress(IPAddr address, IPMask, DWORD ifIndex, ULONG*, ULONG*) override {
        added.push_back({address, ifIndex});
        return NO_ERROR;
    }
    DWORD DeleteIPAddress(ULONG) override { return NO_ERROR; }
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) override { return ERROR_NO_DATA; }
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW*) override { return NO_ERROR; }
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW*) override { return NO_ERROR; }
    DWORD SendARP(IPAddr, IPAddr, void*, ULONG*) override { return ERROR_GEN_FAILURE; }
    DWORD GetNetworkParams(FIXED_INFO*, ULONG*) override { return ERROR_NO_DATA; }

    std::vector<std::pair<IPAddr, DWORD>> added;
};

// A job the test scripts; it ends the way the real thread entries end.
struct ScriptedJobs {
    std::function<void(WizardContext&)> job;
    std::atomic<int> started{0};
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;

    void Release() {
        std::lock_guard<std::mutex> guard(lock);
        released = true;
        changed.notify_all();
    }
    void WaitForRelease() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, std::chrono::seconds(20), [this] { return released; });
    }
};
ScriptedJobs* scripted = nullptr;

unsigned ScriptedEntry(void* argument) {
    auto& dlg = *static_cast<WizardContext*>(argument);
    ++scripted->started;
    if (scripted->job) scripted->job(dlg);
    {
        std::lock_guard<std::mutex> guard(dlg.m_workerLock);
        CloseHandle(dlg.m_hWorker);
        dlg.m_hWorker = nullptr;
    }
    dlg.KillTimer1();
    return 0;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(testing::PlaceImageIn(folder_));
        SetIpHelper(&ipHelper_);
        scripted = &jobs_;
    }
    void TearDown() override {
        jobs_.Release();
        dlg_.reset();
        SetIpHelper(nullptr);
        scripted = nullptr;
        unsetenv("KESTREL_SYSTEM_DIR");
        ClearStopRequest();
    }

    // The dialog after OnInitDialog with `arguments`; shown when that succeeds. Boxes are
    // recorded unless `recordBoxes` is false, which leaves the dialog's own message box.
    CKSTLDevRecoveryDlg& Open(std::vector<const char*> arguments = {"FW=x.bin"},
                              BOOL initResult = TRUE, bool recordBoxes = true) {
        std::vector<char*> argv{const_cast<char*>("kestrel-recovery")};
        for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
        SetCommandLine(static_cast<int>(argv.size()), argv.data());
        dlg_ = std::make_unique<CKSTLDevRecoveryDlg>(ScriptedEntry, ScriptedEntry);
        dlg_->SetUrlOpener([this](const QUrl& url) {
            openedUrls_.push_back(url.toString().toStdString());
            dialogVisibleWhenOpened_ = dlg_->isVisible();
        });
        if (recordBoxes) {
            dlg_->SetBoxPresenter([this](const QString& text, const QString& caption) {
                boxes_.push_back((caption + ": " + text).toStdString());
                boxThreads_.push_back(QThread::currentThread());
            });
        }
        EXPECT_EQ(dlg_->OnInitDialog(), initResult);
        QObject::connect(dlg_.get(), &QDialog::finished,
                         [this](int result) { finished_ = result; });
        if (initResult) dlg_->show();
        return *dlg_;
    }

    // Starts `job` through the right-hand button and waits until the worker runs it.
    void StartJob(std::function<void(WizardContext&)> job) {
        jobs_.job = std::move(job);
        const int before = jobs_.started;
        dlg_->OnNext();
        ASSERT_TRUE(WaitUntil([&] { return jobs_.started > before; }));
    }
    void WaitForJobEnd() {
        ASSERT_TRUE(WaitUntil([&] { return !dlg_->JobRunning(); }));
    }

    // Runs a job to its end from the page on screen, through the right-hand button.
    void RunJobTo(int resultPage) {
        StartJob([resultPage](WizardContext& dlg) { dlg.SetPage(resultPage); });
        WaitForJobEnd();
        ASSERT_EQ(dlg_->PageOnScreen(), resultPage);
    }

    void StartBlockedJob() {
        StartJob([](WizardContext&) { scripted->WaitForRelease(); });
    }

    QTemporaryDir folder_;
    RecordingIpHelper ipHelper_;
    ScriptedJobs jobs_;
    std::unique_ptr<CKSTLDevRecoveryDlg> dlg_;
    std::vector<std::string> openedUrls_;
    bool dialogVisibleWhenOpened_ = true;
    std::vector<std::string> boxes_;
    std::vector<QThread*> boxThreads_;
    std::optional<int> finished_;
};

TEST_F(Wizard, EveryPageShowsItsTextBarsStatusAndButtons) {
    struct Row {
        int page;
        int nPage;
        const char* description;
        bool bars;
        bool cancel;
        const char* okLabel;
        bool ok;
    };
    const Row rows[] = {
        {PAGE_WELCOME, 0,
         "In case of router firmware corruption (the power LED of the router will blink slowly "
         "and PC can's access the router any more), this KESTREL Router Firmware Recovery tool "
         "will restore the router with a working firmware.\n\nAfter the router has been "
         "recovered, you will need to reconfigure it with your network settings.\n\nThis "
         "operation may take 5~10 minutes",
         false, true, "Next", true},
        {PAGE_ROUTER_OK, 2, "The router is working normally, there is no need to recover.", false,
         false, "Quit", true},
        {PAGE_WORKING, 2,
         "Router recovering in progress, please wait. DO NOT turn off the power during this "
         "progress.",
         true, false, "Quit", false},
        {PAGE_SUCCESS, 3,
         "Congratulations!\n\nYou Router is successfully recovered.\n\nClick Next to configure "
         "the router again.",
         false, false, "Next", true},
        {PAGE_FAILED, 4,
         "Unforturnately, firmware recovery failed this time.\n\nClick Retry to try it again, or "
         "click Quit to exit this tool.",
         false, true, "Retry", true},
    };
    CKSTLDevRecoveryDlg& dlg = Open();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page);
        dlg.SetPage(row.page);
        EXPECT_EQ(dlg.PageOnScreen(), row.page);
        EXPECT_EQ(dlg.m_nPage, row.nPage);
        EXPECT_EQ(dlg.DescriptionText().toStdString(), row.description);
        EXPECT_EQ(!dlg.m_ctlProgress.isHidden(), row.bars);
        EXPECT_EQ(!dlg.m_ctlProgressAux.isHidden(), row.bars);
        EXPECT_EQ(!dlg.m_ctlStatus.isHidden(), row.bars);
        if (row.bars) {
            EXPECT_EQ(dlg.StatusText().toStdString(), "checking router status...");
        }
        EXPECT_EQ(!dlg.CancelButton().isHidden(), row.cancel);
        EXPECT_EQ(dlg.CancelButton().text().toStdString(), "Quit");
        EXPECT_EQ(dlg.OkButton().text().toStdString(), row.okLabel);
        EXPECT_EQ(!dlg.OkButton().isHidden(), row.ok);
    }
}

TEST_F(Wizard, WelcomeNextStartsTheStatusCheckAndTheBarRestsAt102) {
    CKSTLDevRecoveryDlg& dlg = Open();
    dlg.m_ctlProgress.SetPos(500);
    StartBlockedJob();
    EXPECT_EQ(dlg.PageOnScreen(), PAGE_WORKING);
    EXPECT_EQ(dlg.m_nPage, PAGE_WELCOME);  // the page the job started from
    EXPECT_EQ(dlg.ProgressPos(), 0);
    EXPECT_EQ(dlg.m_nProgressTarget.load(), 100);
    EXPECT_EQ(dlg.Timer1Interval(), 100);
    for (int tick = 0; tick < 200; ++tick) dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 102);
    dlg.RaiseProgressTarget(50);
    for (int tick = 0; tick < 200; ++tick) dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 152);
}

TEST_F(Wizard, RetryStartsTheRecoveryAtZeroAndRestsAtTwo) {
    CKSTLDevRecoveryDlg& dlg = Open();
    RunJobTo(PAGE_FAILED);
    EXPECT_EQ(dlg.Timer1Interval(), -1);  // the job killed timer 1 as it ended
    dlg.m_ctlProgress.SetPos(1000);
    StartBlockedJob();
    EXPECT_EQ(dlg.PageOnScreen(), PAGE_WORKING);
    EXPECT_EQ(dlg.m_nPage, PAGE_FAILED);
    EXPECT_EQ(dlg.ProgressPos(), 0);
    EXPECT_EQ(dlg.m_nProgressTarget.load(), 0);
    EXPECT_EQ(dlg.Timer1Interval(), 25);
    for (int tick = 0; tick < 20; ++tick) dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 2);
}

TEST_F(Wizard, TheBarStartsAgainFromZeroPastItsEnd) {
    CKSTLDevRecoveryDlg& dlg = Open();
    dlg.m_nProgressTarget = 2000;
    dlg.m_ctlProgress.SetPos(998);
    dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 1000);
    dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 0);
}

TEST_F(Wizard, CommandsWhileAJobRunsAreIgnored) {
    CKSTLDevRecoveryDlg& dlg = Open();
    StartJob([](WizardContext& context) {
        scripted->WaitForRelease();
        context.SetPage(PAGE_FAILED);
    });

    dlg.OnNext();
    dlg.OnQuit();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTest::keyClick(&dlg, Qt::Key_Return);
    dlg.close();  // the window manager's close
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(finished_.has_value());
    EXPECT_EQ(jobs_.started.load(), 1);
    EXPECT_EQ(dlg.PageOnScreen(), PAGE_WORKING);

    jobs_.Release();
    WaitForJobEnd();
    EXPECT_EQ(jobs_.started.load(), 1);
    EXPECT_EQ(dlg.PageOnScreen(), PAGE_FAILED);
    EXPECT_FALSE(finished_.has_value());
}

TEST_F(Wizard, WorkerCallsCompleteOnTheUiThreadBeforeTheyReturn) {
    CKSTLDevRecoveryDlg& dlg = Open({"FW=x.bin", "DEBUG"});
    boxes_.clear();
    boxThreads_.clear();
    std::vector<std::string> seen;  // what the UI thread showed, in order
    QThread* ui = QThread::currentThread();
    bool allOnUi = true;
    QObject::connect(&dlg, &CKSTLDevRecoveryDlg::StatusTextChanged, [&](const QString& text) {
        allOnUi = allOnUi && QThread::currentThread() == ui;
        seen.push_back(text.toStdString());
    });
    std::vector<std::string> seenByJob;
    int positionSeenByJob = -1;
    StartJob([&](WizardContext& context) {
        context.SetStatusText("uploading firmware to the router...");
        seenByJob = seen;  // already shown when the call returned
        context.SetProgressPos(640);
        positionSeenByJob = dlg.ProgressPos();
        context.SetTimer1(250);
        context.MessageBox("a detail", "Information");
        context.SetPage(PAGE_SUCCESS);
    });
    WaitForJobEnd();
    EXPECT_TRUE(allOnUi);
    EXPECT_EQ(seenByJob, (std::vector<std::string>{"checking router status...",
                                                   "uploading firmware to the router..."}));
    EXPECT_EQ(positionSeenByJob, 640);
    EXPECT_EQ(boxes_, (std::vector<std::string>{"Information: a detail"}));
    ASSERT_EQ(boxThreads_.size(), 1u);
    EXPECT_EQ(boxThreads_[0], ui);
    EXPECT_EQ(dlg.Timer1Interval(), -1);
    EXPECT_EQ(dlg.PageOnScreen(), PAGE_SUCCESS);
}

TEST_F(Wizard, DefaultBoxWaitsForOkOnTheUiThread) {
    CKSTLDevRecoveryDlg& dlg = Open({"FW=x.bin"}, TRUE, false);
    QString shownText, shownCaption;
    Qt::TextFormat shownFormat = Qt::AutoText;
    QWidget* shownParent = nullptr;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = box->text();
            shownCaption = box->windowTitle();
            shownFormat = box->textFormat();
            shownParent = box->parentWidget();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(20);
    std::atomic<bool> returned{false};
    StartJob([&](WizardContext& context) {
        // A router's ERROR text is shown as it came, never as markup.
        context.MessageBox("TFTP recevie Error 0: <b>bad</b>", "Failed");
        returned = true;
        context.SetPage(PAGE_ROUTER_OK);
    });
    ASSERT_TRUE(WaitUntil([&] { return returned.load() && !dlg.JobRunning(); }));
    EXPECT_EQ(shownText.toStdString(), "TFTP recevie Error 0: <b>bad</b>");
    EXPECT_EQ(shownFormat, Qt::PlainText);
    EXPECT_EQ(shownCaption.toStdString(), "Failed");
    EXPECT_EQ(shownParent, &dlg);
}

TEST_F(Wizard, RightButtonEndsTheDialogAndOnSuccessThenOpensTheLoginPage) {
    for (const auto& [page, urls] :
         {std::pair{PAGE_ROUTER_OK, std::vector<std::string>{}},
          std::pair{PAGE_SUCCESS, std::vector<std::string>{"http://router.kestrel.home"}}}) {
        SCOPED_TRACE(page);
        openedUrls_.clear();
        finished_.reset();
        dialogVisibleWhenOpened_ = true;
        CKSTLDevRecoveryDlg& dlg = Open();
        RunJobTo(page);
        QTest::mouseClick(&dlg.OkButton(), Qt::LeftButton);
        EXPECT_EQ(finished_, QDialog::Accepted);
        EXPECT_EQ(dlg.ExitStatus(), 0);  // the router works
        EXPECT_EQ(openedUrls_, urls);
        if (!urls.empty()) {
            EXPECT_FALSE(dialogVisibleWhenOpened_);
        }
    }
}

TEST_F(Wizard, QuitOnWelcomeLeavesTheSettingsAlone) {
    CKSTLDevRecoveryDlg& dlg = Open();
    InsetIPEntry(dlg, "192.168.1.100", "255.255.255.0", 7);
    QTest::mouseClick(&dlg.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(finished_, QDialog::Rejected);
    EXPECT_EQ(dlg.ExitStatus(), 1);  // nothing was checked or changed
    dlg_.reset();                    // the destructor frees the record without applying it
    EXPECT_TRUE(ipHelper_.added.empty());
}

TEST_F(Wizard, QuitOnFailedPutsTheSettingsBackFirst) {
    CKSTLDevRecoveryDlg& dlg = Open();
    StartJob([](WizardContext& context) {
        InsetIPEntry(context, "192.168.1.100", "255.255.255.0", 7);
        context.SetPage(PAGE_FAILED);
    });
    WaitForJobEnd();
    EXPECT_TRUE(ipHelper_.added.empty());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_EQ(finished_, QDialog::Rejected);
    EXPECT_EQ(dlg.ExitStatus(), 2);
    ASSERT_EQ(ipHelper_.added.size(), 1u);
    EXPECT_EQ(ipHelper_.added[0].first, inet_addr("192.168.1.100"));
    EXPECT_EQ(dlg.m_pSavedAddresses, nullptr);
}

TEST_F(Wizard, QuitSignalWithoutAJobQuitsAtOnce) {
    CKSTLDevRecoveryDlg& dlg = Open();
    raise(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return finished_.has_value(); }));
    EXPECT_EQ(finished_, QDialog::Rejected);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.ExitStatus(), 128 + SIGTERM);
}

TEST_F(Wizard, QuitSignalStopsTheJobSaysSoAndRestoresOnceItEnded) {
    CKSTLDevRecoveryDlg& dlg = Open();
    StartJob([](WizardContext& context) {
        InsetIPEntry(context, "10.0.0.1", "255.0.0.0", 3);
        Sleep(60000);  // a pause that only a stop cuts short
        context.SetStatusText("uploading firmware to the router...");
        context.SetPage(PAGE_FAILED);
    });
    std::vector<std::string> shown;
    QObject::connect(&dlg, &CKSTLDevRecoveryDlg::StatusTextChanged,
                     [&](const QString& text) { shown.push_back(text.toStdString()); });
    raise(SIGINT);
    ASSERT_TRUE(WaitUntil([&] { return finished_.has_value(); }));
    EXPECT_EQ(finished_, QDialog::Rejected);
    EXPECT_EQ(dlg.ExitStatus(), 128 + SIGINT);  // though the job ended on the failed page
    EXPECT_EQ(shown, std::vector<std::string>{"stopping, restoring PC network settings..."});
    ASSERT_EQ(ipHelper_.added.size(), 1u);
    EXPECT_EQ(ipHelper_.added[0].first, inet_addr("10.0.0.1"));
}

TEST_F(Wizard, SecondQuitSignalLeavesAtOnceWithoutWaitingForTheJob) {
    CKSTLDevRecoveryDlg& dlg = Open();
    std::vector<int> exits;
    dlg.SetProcessExit([&](int status) { exits.push_back(status); });
    StartBlockedJob();  // still inside its step
    raise(SIGTERM);
    ASSERT_TRUE(WaitUntil([&] { return StopRequested(); }));
    EXPECT_TRUE(exits.empty());
    raise(SIGINT);
    ASSERT_TRUE(WaitUntil([&] { return !exits.empty(); }));
    EXPECT_EQ(exits, std::vector<int>{128 + SIGINT});
    EXPECT_FALSE(finished_.has_value());
}

TEST_F(Wizard, QuitSignalAfterASuccessfulJobQuitsWithoutOpeningThePage) {
    Open();
    StartJob([](WizardContext& context) {
        scripted->WaitForRelease();
        context.SetPage(PAGE_SUCCESS);
    });
    raise(SIGHUP);
    jobs_.Release();
    ASSERT_TRUE(WaitUntil([&] { return finished_.has_value(); }));
    EXPECT_EQ(finished_, QDialog::Rejected);
    EXPECT_EQ(dlg_->ExitStatus(), 128 + SIGHUP);
    EXPECT_TRUE(openedUrls_.empty());
    EXPECT_TRUE(ipHelper_.added.empty());
}

TEST_F(Wizard, DestroyingTheDialogWaitsForTheWorkerToFinish) {
    Open();
    std::atomic<bool> jobDone{false};
    StartJob([&](WizardContext& context) {
        scripted->WaitForRelease();
        context.SetStatusText("still here");
        jobDone = true;
        context.SetPage(PAGE_FAILED);
    });
    QTimer::singleShot(100, [&] { jobs_.Release(); });
    dlg_.reset();
    EXPECT_TRUE(jobDone.load());
}

TEST_F(Wizard, DebugSwitchShowsTheFirmwareNameAtStartUp) {
    Open({"DEBUG", "FW=x.bin", "TIME=45"});
    EXPECT_EQ(boxes_, (std::vector<std::string>{"Firmware: x.bin"}));
    EXPECT_EQ(dlg_->m_bDebug, TRUE);
    EXPECT_EQ(dlg_->m_nRebootTimeout, 45000);
    EXPECT_STREQ(dlg_->m_szFirmwareName, "x.bin");
    EXPECT_EQ(dlg_->m_strFirmwarePath, folder_.path().toStdString() + "/KESTREL/x.bin");
    // The image is open from start-up until the dialog goes.
    const int file = dlg_->m_hFirmwareFile;
    EXPECT_NE(fcntl(file, F_GETFD), -1);
    dlg_.reset();
    EXPECT_EQ(fcntl(file, F_GETFD), -1);
}

TEST_F(Wizard, MissingImageFailsOnInitDialogWithTheBox) {
    CKSTLDevRecoveryDlg& dlg = Open({"DEBUG", "FW=missing.bin"}, FALSE);
    const std::string path = folder_.path().toStdString() + "/KESTREL/missing.bin";
    EXPECT_EQ(boxes_, (std::vector<std::string>{"Firmware: missing.bin",
                                                "Error: Can not find Firmware " + path}));
    EXPECT_EQ(dlg.StartupFailure(), "Can not find Firmware " + path);
}

}  // namespace
}  // namespace kestrel
