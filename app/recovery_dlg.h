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
#include "engine/wizard_flow.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/quit_signals.h"

class QSocketNotifier;

namespace kestrel {

class CKSTLDevRecoveryDlg : public QDialog, public WizardFlow {
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
    QString StatusText() const { return m_ctlStatus.text(); }
    QString DescriptionText() const { return m_ctlDescription.text(); }
    int ProgressPos() const { return m_ctlProgress.GetPos(); }
    int Timer1Interval() const { return m_timer1.isActive() ? m_timer1.interval() : -1; }
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

    // WizardFlow: how the dialog ends, and the worker's end as an event to the UI thread.
    void EndWizard(bool accepted) override;
    void OpenLoginPage() override;
    void PostWorkerEnded() override;
    void ShowStopping() override;
    void ExitNow(int status) override;

private:
    void SetPageNow(int page);
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
    UrlOpener m_openUrl;
    BoxPresenter m_showBox;
    ProcessExit m_exitProcess;
    ImageChoice m_choice;
    bool m_bChoose = false;
    QSocketNotifier* m_quitNotifier = nullptr;
    std::string m_strStartupFailure;
};

}  // namespace kestrel
