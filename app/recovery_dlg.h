// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard dialog: five pages on one window, one worker thread per job, and the timer that
// moves the bar towards the target the job sets.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <string>

#include "app/color_progress_ctrl.h"
#include "engine/command_line.h"
#include "engine/engine.h"
#include "engine/pages.h"
#include "ipc/quit_signals.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "platform/wizard.h"

class QSocketNotifier;

namespace kestrel {

class CKSTLDevRecoveryDlg : public QDialog, public WizardContext {
    Q_OBJECT
public:
    using UrlOpener = std::function<void(const QUrl&)>;
    using BoxPresenter = std::function<void(const QString& text, const QString& caption)>;
    using ProcessExit = std::function<void(int status)>;

    // The thread entries receive the WizardContext; tests pass scripted jobs.
    explicit CKSTLDevRecoveryDlg(ThreadEntry statusCheckEntry = StatusCheckThread,
                                 ThreadEntry recoveryEntry = RecoveryThread);
    ~CKSTLDevRecoveryDlg() override;

    // Reads GetCommandLineW(), opens the image, lays out the window and shows the welcome page.
    // FALSE: no usable image, and the process must end with exit status 1 (StartupFailure()
    // says why); or a quit signal came while a start-up box was open (QuitSignal()).
    BOOL OnInitDialog();
    const std::string& StartupFailure() const { return m_strStartupFailure; }
    // The quit signal that ended the dialog, 0 if none: the program then ends with 128 + it.
    int QuitSignal() const { return m_nQuitSignal; }
    // The program's exit status once the dialog has ended.
    int ExitStatus() const { return kestrel::ExitStatus(m_nPage, m_nQuitSignal); }
    // --choose, before OnInitDialog: `fileArgument` names the image by its path; without it and
    // without a switch naming one, the user is asked for it.
    void ChooseImage(std::string fileArgument);

    // WizardContext: callable from the worker; each completes on the UI thread.
    void SetPage(int page) override;
    void SetStatusText(const std::string& text) override;
    void SetProgressPos(int position) override;
    void SetTimer1(unsigned intervalMs) override;
    void KillTimer1() override;
    void MessageBox(const std::string& text, const std::string& caption) override;

    // For drivers and tests.
    int PageOnScreen() const { return m_nPageOnScreen; }
    QString StatusText() const { return m_ctlStatus.text(); }
    QString DescriptionText() const { return m_ctlDescription.text(); }
    int ProgressPos() const { return m_ctlProgress.GetPos(); }
    int Timer1Interval() const { return m_timer1.isActive() ? m_timer1.interval() : -1; }
    bool JobRunning();
    QPushButton& OkButton() { return m_btnOk; }
    QPushButton& CancelButton() { return m_btnCancel; }
    void SetUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    void SetBoxPresenter(BoxPresenter presenter) { m_showBox = std::move(presenter); }
    void SetProcessExit(ProcessExit exit) { m_exitProcess = std::move(exit); }
    // Pixels of a rectangle given in dialog units of the dialog font.
    QRect MapDialogRect(int x, int y, int width, int height) const;

signals:
    void PageChanged(int page);
    void StatusTextChanged(const QString& text);
    void WorkerEnded();
    void Stopping();  // a quit signal came: open boxes close

public slots:
    void OnNext();  // IDOK: the right-hand button, Enter
    void OnQuit();  // IDCANCEL: the left-hand button, Escape, the window manager's close
    void OnTimer(int id);

protected:
    void reject() override;  // Escape and the window manager's close
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    // Colours and fonts of the dialog and a static control.
    void OnCtlColor(QWidget* control);

private:
    void SetPageNow(int page);
    void StartJob(int target, int tickMs, ThreadEntry entry);
    void StartWorker(ThreadEntry entry);
    static unsigned WorkerMain(void* dialog);
    void OnQuitSignal();
    void QuitAfterSignal();
    void EndDialog(int result);
    void Layout();
    template <typename Call>
    void OnUiThread(Call call);

public:
    // The members of the wizard, in their order (the shared ones come from WizardContext).
    QIcon m_hIcon;
    QLabel m_ctlTitle;
    QLabel m_ctlRule;
    QLabel m_ctlDescription;
    CColorProgressCtrl m_ctlProgress;
    QLabel m_ctlStatus;
    QProgressBar m_ctlProgressAux;

private:
    QPushButton m_btnOk;
    QPushButton m_btnCancel;
    QTimer m_timer1;
    QFont m_dialogFont;
    QFont m_titleFont;
    QFont m_ruleFont;
    ThreadEntry m_statusCheckEntry;
    ThreadEntry m_recoveryEntry;
    ThreadEntry m_workerEntry = nullptr;  // the job the worker about to start runs
    UrlOpener m_openUrl;
    BoxPresenter m_showBox;
    ProcessExit m_exitProcess;
    ImageChoice m_choice;
    bool m_bChoose = false;
    QSocketNotifier* m_quitNotifier = nullptr;
    int m_quitSignalFd = -1;
    int m_nPageOnScreen = PAGE_WELCOME;
    bool m_bWorkerActive = false;  // UI thread only: from the start to the worker's last word
    int m_nQuitSignal = 0;         // the first quit signal; from then on the wizard is stopping
    std::string m_strStartupFailure;
};

}  // namespace kestrel
