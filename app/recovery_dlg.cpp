// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/recovery_dlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>
#include <QtMath>
#include <cstdlib>

#include "app/assistive.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"

namespace kestrel {
namespace {

constexpr char kCaption[] = "KESTREL Device Recovery";
constexpr char kRule[] = "_________________________________________";
constexpr int kTimerId = 1;
constexpr int kTemplateWidth = 240;
constexpr int kTemplateHeight = 151;
constexpr int kIconSize = 32;  // SM_CXICON, SM_CYICON
constexpr double kDialogPointSize = 10;
const QColor kTitleColour(0, 153, 204);
// The text colour of the white window, whatever the desktop's theme: a dark theme's light text
// would vanish on it.
const QColor kTextColour(0, 0, 0);

struct PageRow {
    bool cancelShown;
    const char* okLabel;
};

// PAGE_WORKING has its own steps in SetPageNow.
const PageRow kPages[] = {
    {true, "Next"}, {false, nullptr}, {false, "Quit"}, {false, "Next"}, {true, "Retry"},
};

QEvent::Type WorkerEndedEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QString FirstInstalled(std::initializer_list<const char*> families) {
    const QStringList installed = QFontDatabase::families();
    for (const char* family : families)
        if (installed.contains(QString::fromLatin1(family), Qt::CaseInsensitive))
            return QString::fromLatin1(family);
    return QString::fromLatin1("Liberation Sans");
}

// The platform's rounding multiply-divide.
int MulDiv(int number, int numerator, int denominator) {
    long long product = static_cast<long long>(number) * numerator;
    long long half = denominator / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / denominator);
}

// Base units of a dialog font: the average width of the 52 letters and the cell height.
QSize BaseUnits(const QFont& font, const QPaintDevice* device) {
    QFontMetrics metrics(font, device);
    const QString letters =
        QString::fromLatin1("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {(metrics.horizontalAdvance(letters) / 26 + 1) / 2, metrics.height()};
}

// Makes `label` tall enough for the tallest of `texts` at its width. The template's heights are
// those of another platform's fonts, and a scaled screen draws text unhinted, a little taller.
void FitHeightToText(QLabel& label, std::initializer_list<QString> texts) {
    const QFontMetricsF metrics(label.font(), &label);
    const int flags = (label.wordWrap() ? Qt::TextWordWrap : 0) | Qt::AlignLeft | Qt::AlignTop;
    int height = label.height();
    for (const QString& text : texts) {
        const QRectF lines = metrics.boundingRect(QRectF(0, 0, label.width(), 1e6), flags, text);
        height = std::max(height, qCeil(lines.height()));
    }
    label.resize(label.width(), height);
}

// The run-time rectangles are pixels for the 10-point dialog font; a larger desktop font
// enlarges them with the rest of the window.
QRect ScaledToFont(const QRect& pixels, const QFont& font, const QPaintDevice* device) {
    QFont designFont(font);
    designFont.setPointSizeF(kDialogPointSize);
    const QSize now = BaseUnits(font, device);
    const QSize design = BaseUnits(designFont, device);
    return QRect(MulDiv(pixels.x(), now.width(), design.width()),
                 MulDiv(pixels.y(), now.height(), design.height()),
                 MulDiv(pixels.width(), now.width(), design.width()),
                 MulDiv(pixels.height(), now.height(), design.height()));
}

}  // namespace

CKSTLDevRecoveryDlg::CKSTLDevRecoveryDlg(ThreadEntry statusCheckEntry, ThreadEntry recoveryEntry)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      WizardFlow(statusCheckEntry, recoveryEntry),
      m_hIcon(QString::fromLatin1(":/kestrel/kestrel-recovery.png")),
      m_ctlTitle(QString::fromLatin1("KESTREL Router Firmware Recovery"), this),
      m_ctlRule(QString::fromLatin1(kRule), this),
      m_ctlDescription(QString::fromLatin1("Description"), this),
      m_ctlProgress(this),
      m_ctlStatus(QString::fromLatin1("Status"), this),
      m_ctlProgressAux(this),
      m_btnOk(QString::fromLatin1("Next"), this),
      m_btnCancel(QString::fromLatin1("Quit"), this),
      m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      m_showBox([this](const QString& text, const QString& caption) {
          QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
          box.setTextFormat(Qt::PlainText);  // the texts may carry a router's words
          connect(this, &CKSTLDevRecoveryDlg::Stopping, &box, &QMessageBox::reject);
          box.exec();
      }),
      m_exitProcess([](int status) { std::_Exit(status); }) {
    m_choice.askUser = [] {
        const QString path = QFileDialog::getOpenFileName(
            nullptr, QString::fromLatin1("Choose the firmware image"), QString(),
            QString::fromLatin1("Firmware images (*.bin *.img *.trx);;All files (*)"));
        return QFile::encodeName(path).toStdString();
    };
    setWindowTitle(QString::fromLatin1(kCaption));

    m_dialogFont = QFont(FirstInstalled({"Microsoft Sans Serif", "Liberation Sans"}));
    // A user who chose larger text on the desktop gets it here too.
    m_dialogFont.setPointSizeF(
        std::max(kDialogPointSize, QFontInfo(QApplication::font()).pointSizeF()));
    setFont(m_dialogFont);

    const QString titleFamily = FirstInstalled({"Arial", "Liberation Sans"});
    // The title and its rule grow with the desktop's font as the window does: by its base units.
    QFont designFont(m_dialogFont);
    designFont.setPointSizeF(kDialogPointSize);
    const QSize now = BaseUnits(m_dialogFont, this), design = BaseUnits(designFont, this);
    const qreal grown =
        std::min(qreal(now.width()) / design.width(), qreal(now.height()) / design.height());
    // The title font is asked for by its cell height (ascent plus descent), not its em size.
    const int titleCellHeight = qRound(24 * grown);
    m_titleFont = QFont(titleFamily);
    m_titleFont.setWeight(QFont::Bold);
    m_titleFont.setPixelSize(titleCellHeight);
    const int cell = QFontMetrics(m_titleFont, this).height();
    if (cell > 0)
        m_titleFont.setPixelSize(std::max(1, MulDiv(titleCellHeight, titleCellHeight, cell)));
    m_ruleFont = QFont(titleFamily);
    // 15.0 points on this screen at the 10-point dialog font.
    m_ruleFont.setPixelSize(qRound(MulDiv(150, logicalDpiY(), 720) * grown));

    for (QLabel* label : {&m_ctlTitle, &m_ctlRule, &m_ctlDescription, &m_ctlStatus})
        label->setTextFormat(Qt::PlainText);
    m_ctlDescription.setWordWrap(true);
    m_ctlDescription.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ctlStatus.setWordWrap(true);
    m_ctlStatus.setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_ctlTitle.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ctlRule.setAlignment(Qt::AlignLeft | Qt::AlignTop);

    setAutoFillBackground(true);
    OnCtlColor(this);
    for (QLabel* label : {&m_ctlTitle, &m_ctlRule, &m_ctlDescription, &m_ctlStatus})
        OnCtlColor(label);

    Layout();
    m_btnOk.setDefault(true);
    // The rule is a line of underscores and the second bar never moves: nothing to read out.
    HideFromAssistiveTools(m_ctlRule);
    HideFromAssistiveTools(m_ctlProgressAux);
    m_ctlProgress.setAccessibleName(QString::fromLatin1("Recovery progress"));
    // Stacking and tab order follow the template: later controls lie on top of earlier ones.
    for (QWidget* control : std::initializer_list<QWidget*>{
             &m_btnOk, &m_btnCancel, &m_ctlTitle, &m_ctlRule, &m_ctlDescription, &m_ctlProgressAux,
             &m_ctlProgress, &m_ctlStatus})
        control->raise();
    setTabOrder(&m_btnOk, &m_btnCancel);

    connect(&m_btnOk, &QPushButton::clicked, this, &CKSTLDevRecoveryDlg::OnNext);
    connect(&m_btnCancel, &QPushButton::clicked, this, &CKSTLDevRecoveryDlg::OnQuit);
    connect(&m_timer1, &QTimer::timeout, this, [this] { OnTimer(kTimerId); });

    if (const int quitSignalFd = ListenForQuitSignals(); quitSignalFd >= 0) {
        m_quitNotifier = new QSocketNotifier(quitSignalFd, QSocketNotifier::Read, this);
        connect(m_quitNotifier, &QSocketNotifier::activated, this, [this] { OnQuitSignal(); });
    }
}

CKSTLDevRecoveryDlg::~CKSTLDevRecoveryDlg() {
    // The worker still calls into this object until its last word: let it finish first.
    while (WorkerActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_timer1.stop();
    DiscardSavedSettings(*this);
    CloseFirmwareImage(m_hFirmwareFile);
}

QRect CKSTLDevRecoveryDlg::MapDialogRect(int x, int y, int width, int height) const {
    const QSize base = BaseUnits(m_dialogFont, this);
    return QRect(MulDiv(x, base.width(), 4), MulDiv(y, base.height(), 8),
                 MulDiv(width, base.width(), 4), MulDiv(height, base.height(), 8));
}

void CKSTLDevRecoveryDlg::Layout() {
    setFixedSize(MapDialogRect(0, 0, kTemplateWidth, kTemplateHeight).size());
    m_btnOk.setGeometry(MapDialogRect(168, 126, 50, 14));
    m_btnCancel.setGeometry(MapDialogRect(18, 126, 50, 14));
    m_ctlTitle.setGeometry(MapDialogRect(24, 12, 195, 12));
    m_ctlRule.setGeometry(MapDialogRect(6, 24, 228, 12));
    m_ctlDescription.setGeometry(MapDialogRect(54, 45, 146, 8));
    m_ctlProgressAux.setGeometry(MapDialogRect(33, 64, 186, 14));
    m_ctlProgress.setGeometry(MapDialogRect(33, 84, 186, 14));
    m_ctlStatus.setGeometry(MapDialogRect(37, 126, 171, 8));
    FitHeightToText(m_ctlTitle, {m_ctlTitle.text()});
    FitHeightToText(m_ctlRule, {m_ctlRule.text()});
    FitHeightToText(m_ctlStatus, {QString::fromLatin1(kCheckingText)});
}

void CKSTLDevRecoveryDlg::OnCtlColor(QWidget* control) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, kTextColour);
    if (control == &m_ctlTitle || control == &m_ctlRule) {
        palette.setColor(QPalette::WindowText, kTitleColour);
        control->setFont(control == &m_ctlTitle ? m_titleFont : m_ruleFont);
    }
    control->setPalette(palette);
}

void CKSTLDevRecoveryDlg::ChooseImage(std::string fileArgument) {
    m_bChoose = true;
    m_choice.fileArgument = std::move(fileArgument);
}

BOOL CKSTLDevRecoveryDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);  // both the big and the small icon

    const CommandLineSettings settings = ReadCommandLine(
        GetCommandLineW(), PlatformCommandLineEnvironment(), m_bChoose ? &m_choice : nullptr);
    ApplyCommandLine(settings, *this);
    for (const DiagnosticBox& box : settings.boxes) MessageBox(box.text, box.caption);
    // A quit signal while a box was open ends the program before the wizard shows.
    if (!settings.ok || m_nQuitSignal) {
        m_strStartupFailure = settings.failure;
        return FALSE;
    }

    m_ctlDescription.setGeometry(ScaledToFont(QRect(30, 90, 420, 150), m_dialogFont, this));
    m_ctlProgress.setGeometry(ScaledToFont(QRect(55, 200, 350, 30), m_dialogFont, this));
    m_ctlProgressAux.setGeometry(m_ctlProgress.geometry());
    FitHeightToText(m_ctlDescription, {QString::fromLatin1(kPageTexts[PAGE_WELCOME]),
                                       QString::fromLatin1(kPageTexts[PAGE_SUCCESS]),
                                       QString::fromLatin1(kPageTexts[PAGE_FAILED])});
    // A larger font may wrap the longest page into a line more than the design has room for:
    // the text then moves up towards the rule, never into the buttons.
    const int overflow = m_ctlDescription.y() + m_ctlDescription.height() +
                         QFontMetrics(m_dialogFont, this).height() / 2 - m_btnOk.y();
    if (overflow > 0)
        m_ctlDescription.move(m_ctlDescription.x(), std::max(m_ctlRule.geometry().bottom(),
                                                             m_ctlDescription.y() - overflow));

    m_ctlProgress.SetRange(0, kProgressUpper);
    m_ctlProgress.SetStep(kProgressStep);

    SetPageNow(PAGE_WELCOME);
    if (QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
    return TRUE;
}

template <typename Call>
void CKSTLDevRecoveryDlg::OnUiThread(Call call) {
    if (QThread::currentThread() == thread())
        call();
    else
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
}

void CKSTLDevRecoveryDlg::SetPage(int page) {
    OnUiThread([this, page] { SetPageNow(page); });
}

void CKSTLDevRecoveryDlg::SetPageNow(int page) {
    const PageRow& row = kPages[page];
    if (page == PAGE_WORKING) {
        m_ctlDescription.setText(QString::fromLatin1(kPageTexts[page]));
        m_ctlProgress.show();
        m_ctlProgressAux.show();
        m_ctlStatus.setText(QString::fromLatin1(kCheckingText));
        m_ctlStatus.show();
        m_btnCancel.hide();
        m_btnOk.hide();
    } else {
        if (page == PAGE_WELCOME) m_ctlStatus.hide();
        m_ctlDescription.setText(QString::fromLatin1(kPageTexts[page]));
        m_ctlProgress.hide();
        m_ctlProgressAux.hide();
        m_ctlStatus.hide();
        m_btnCancel.setVisible(row.cancelShown);
        m_btnOk.setText(QString::fromLatin1(row.okLabel));
        m_btnOk.show();
        m_btnOk.setFocus();
    }
    PageShown(page);
    if (page == PAGE_WORKING) emit StatusTextChanged(m_ctlStatus.text());
    emit PageChanged(page);
}

void CKSTLDevRecoveryDlg::SetStatusText(const std::string& text) {
    OnUiThread([this, &text] {
        if (m_nQuitSignal) return;  // stopping says so until the end
        m_ctlStatus.setText(
            QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
        emit StatusTextChanged(m_ctlStatus.text());
    });
}

void CKSTLDevRecoveryDlg::SetProgressPos(int position) {
    OnUiThread([this, position] { m_ctlProgress.SetPos(position); });
}

void CKSTLDevRecoveryDlg::SetTimer1(unsigned intervalMs) {
    OnUiThread([this, intervalMs] { m_timer1.start(static_cast<int>(intervalMs)); });
}

void CKSTLDevRecoveryDlg::KillTimer1() {
    OnUiThread([this] { m_timer1.stop(); });
}

void CKSTLDevRecoveryDlg::MessageBox(const std::string& text, const std::string& caption) {
    OnUiThread([this, &text, &caption] {
        if (m_nQuitSignal) return;  // nobody may hold up a stop
        m_showBox(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())),
                  QString::fromLocal8Bit(caption.data(), static_cast<qsizetype>(caption.size())));
    });
}

void CKSTLDevRecoveryDlg::OnNext() {
    if (!Next() && m_bDebug) MessageBox(kNoWorkerText, kNoWorkerCaption);
}

void CKSTLDevRecoveryDlg::OnQuit() {
    Quit();
}

void CKSTLDevRecoveryDlg::reject() {
    OnQuit();
}

void CKSTLDevRecoveryDlg::EndWizard(bool accepted) {
    EndDialog(accepted ? QDialog::Accepted : QDialog::Rejected);
}

void CKSTLDevRecoveryDlg::EndDialog(int result) {
    m_timer1.stop();
    QDialog::done(result);
}

void CKSTLDevRecoveryDlg::OpenLoginPage() {
    m_openUrl(QUrl(QString::fromLatin1(kSetupPageUrl)));
}

void CKSTLDevRecoveryDlg::OnTimer(int) {
    if (TimerSteps(m_ctlProgress.GetPos(), m_nProgressTarget.load())) m_ctlProgress.StepIt();
}

void CKSTLDevRecoveryDlg::PostWorkerEnded() {
    QCoreApplication::postEvent(this, new QEvent(WorkerEndedEventType()));
}

bool CKSTLDevRecoveryDlg::event(QEvent* event) {
    if (event->type() != WorkerEndedEventType()) return QDialog::event(event);
    OnWorkerEnded();
    return true;
}

void CKSTLDevRecoveryDlg::ShowStopping() {
    m_ctlStatus.setText(QString::fromLatin1(kStoppingText));
    emit StatusTextChanged(m_ctlStatus.text());
    emit Stopping();
}

void CKSTLDevRecoveryDlg::ExitNow(int status) {
    m_exitProcess(status);
}

void CKSTLDevRecoveryDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const int x = (width() - kIconSize + 1) / 2;
    const int y = (height() - kIconSize + 1) / 2;
    m_hIcon.paint(&painter, x, y, kIconSize, kIconSize);
}

}  // namespace kestrel
