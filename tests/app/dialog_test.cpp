// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard dialog with scripted jobs on a fake PC, which sends nothing: the bar and the keys
// during a job, the job's calls, the ways it ends and quit signals; and its look: the colour bar
// on screen, the window's colours and the fit of its texts under the desktop's theme and font
// size, and what assistive tools are told (Look runs once more at a scale factor of 2).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QBitmap>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <csignal>

#include "app/recovery_dlg.h"
#include "platform/clock.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

class Wizard : public ::testing::Test {
protected:
    void TearDown() override {
        dlg_.reset();  // once its worker ended
        ClearStopRequest();
    }
    // A new dialog after OnInitDialog, shown, on a PC with one adapter; any file serves as the
    // image, as the jobs are scripted.
    CKSTLDevRecoveryDlg& Open(std::vector<std::string> arguments = {
                                  "kestrel-recovery", "FW=" KESTREL_RECOVERY_BINARY}) {
        TearDown();
        world_.emplace("link 3 eth0\naddress 192.168.1.100/24 dev 3");
        SetCommandLine(arguments);
        dlg_ =
            std::make_unique<CKSTLDevRecoveryDlg>(testing::ScriptedEntry, testing::ScriptedEntry);
        EXPECT_TRUE(dlg_->OnInitDialog());
        dlg_->show();
        return *dlg_;
    }
    std::optional<testing::HelperPc> world_;
    std::unique_ptr<CKSTLDevRecoveryDlg> dlg_;
};

// While a job runs timer 1 moves the bar to one step past the job's target, but not past its top,
// and neither Escape nor the window manager's close ends the dialog. Each call of the job has
// taken effect on the UI thread when it returns, a box once the user answered it: the user
// answers every box with OK, noting what it said and whether it was plain text (a router's words
// are no markup) owned by the dialog.
TEST_F(Wizard, AJobMovesTheBarHoldsOffTheWaysOutAndEachCallTakesEffectBeforeItReturns) {
    QTimer user;
    QStringList boxes, shown, seen;  // status texts as the UI thread showed them; what the job saw
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        const bool plain = box->textFormat() == Qt::PlainText && box->parent() == dlg_.get();
        boxes << box->windowTitle() + ": " + box->text() + (plain ? "" : " (markup?)");
        box->button(QMessageBox::Ok)->click();
    });
    user.start(20);
    CKSTLDevRecoveryDlg& dlg = Open({"kestrel-recovery", "DEBUG", "FW=" KESTREL_RECOVERY_BINARY});
    QObject::connect(&dlg, &CKSTLDevRecoveryDlg::StatusTextChanged, [&](const QString& text) {
        shown << text + (QThread::currentThread() == qApp->thread() ? "" : " elsewhere");
    });
    std::atomic<bool> released{false};  // holds the job, which sees no stop
    testing::ScriptJobs({[&](WizardContext& context) {
        while (!released) QThread::msleep(1);
        context.SetStatusText("uploading firmware to the router...");
        seen << shown.join('|');
        context.SetProgressPos(640);
        seen << QString::number(dlg.ProgressPos());
        context.MessageBox("TFTP recevie Error 0: <b>bad</b>", "Failed");
        seen << boxes.join('|');
        context.SetPage(PAGE_FAILED);
    }});
    dlg.OnNext();
    ASSERT_TRUE(QTest::qWaitFor([] { return testing::JobsStarted() > 0; }));
    EXPECT_EQ(dlg.Timer1Interval(), 100);
    for (int tick = 0; tick < 200; ++tick) dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 102);
    dlg.m_nProgressTarget = 1000;
    for (int tick = 0; tick < 500; ++tick) dlg.OnTimer(1);
    EXPECT_EQ(dlg.ProgressPos(), 1000);  // at the top the bar stays full
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    released = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.JobRunning(); }));
    EXPECT_TRUE(dlg.isVisible());
    // The start-up box of DEBUG first.
    EXPECT_EQ(seen,
              QStringList({"checking router status...|uploading firmware to the router...", "640",
                           "Firmware: " KESTREL_RECOVERY_BINARY
                           "|Failed: TFTP recevie Error 0: <b>bad</b>"}));
}

// The buttons shown, left|right, on each page, then the one pressed (else Escape, Quit's key)
// unless a quit signal comes: how the dialog ends, and the page opened after it went.
TEST_F(Wizard, EndsByAButtonOrAQuitSignal) {
    const std::tuple<int, int, QString, bool, QStringList> rows[] = {
        {PAGE_WELCOME, 0, "Quit|Next", false, {}},
        {PAGE_ROUTER_OK, 0, "|Quit", true, {}},
        {PAGE_SUCCESS, 0, "|Next", true, {kSetupPageUrl}},
        {PAGE_FAILED, 0, "Quit|Retry", false, {}},
        {PAGE_WORKING, SIGINT, "|", false, {}},
    };
    for (const auto& [page, signal, buttons, right, url] : rows) {
        SCOPED_TRACE(::testing::Message() << "page " << page << ", signal " << signal);
        CKSTLDevRecoveryDlg& dlg = Open();
        QStringList opened;  // what it opens once it has gone ("" while it shows)
        dlg.SetUrlOpener([&](const QUrl& u) { opened << (dlg.isVisible() ? "" : u.toString()); });
        dlg.SetPage(page);
        EXPECT_EQ((dlg.CancelButton().isVisible() ? "Quit|" : "|") +
                      (dlg.OkButton().isVisible() ? dlg.OkButton().text() : ""),
                  buttons);
        if (signal) raise(signal);
        if (!signal && right) QTest::mouseClick(&dlg.OkButton(), Qt::LeftButton);
        if (!signal && !right) QTest::keyClick(&dlg, Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.isVisible(); }));
        EXPECT_EQ(
            std::tuple(dlg.result(), dlg.QuitSignal(), dlg.StatusText() == kStoppingText, opened),
            std::tuple(right ? QDialog::Accepted : QDialog::Rejected, signal, signal != 0, url));
    }
}

const QRgb kTitleBlue = qRgb(0, 153, 204);

// What the screen shows of the bar after each step, past its end too: its client area (inside a
// one-pixel border) filled from one pixel in, as wide as its width * position / range.
TEST(ColorProgressCtrl, ShowsTheFillOfEveryPositionAndStartsAgainPastItsEnd) {
    CColorProgressCtrl bar;
    bar.resize(1002, 30);  // a client area 1000 wide: every step of 2 moves the fill
    bar.SetRange(0, 1000);
    bar.SetStep(2);
    bar.SetPos(1200);  // kept to the range
    bar.show();
    for (int position : {1000, 0, 2, 4, 6, 8, 10}) {
        if (position != 1000) bar.StepIt();
        QCoreApplication::processEvents();
        ASSERT_EQ(bar.GetPos(), position);
        const QImage shown = bar.screen()->grabWindow(bar.winId()).toImage();
        const QRegion blue(
            QBitmap::fromImage(shown.createMaskFromColor(qRgb(0, 0, 255), Qt::MaskOutColor)));
        EXPECT_EQ(blue, QRegion(2, 2, std::min(position, 999), 26)) << "position " << position;
    }
}

// The look of the wizard, also at a scale factor of 2 (tests/app/CMakeLists.txt).
class Look : public Wizard {};

// Pixels of ink that `control` would cut off: `text` drawn as the control draws it, unclipped,
// at the screen's pixel ratio, with room all round. The faint edge of a glyph's smoothing may
// go; what is at least half ink may not.
int InkCutOff(QWidget& control, const QString& text) {
    auto* label = qobject_cast<QLabel*>(&control);
    const int flags = label ? label->alignment() | (label->wordWrap() ? Qt::TextWordWrap : 0)
                            : int{Qt::AlignCenter};
    const qreal scale = control.devicePixelRatioF();
    const QRect room = control.contentsRect();
    const int margin = room.height();
    QImage canvas((room.size() + QSize(2 * margin, 2 * margin)) * scale, QImage::Format_ARGB32);
    canvas.setDevicePixelRatio(scale);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setFont(control.font());
    painter.drawText(QRect(QPoint(margin, margin), room.size()), flags | Qt::TextDontClip, text);
    painter.end();
    const QRect inside(QPoint(margin, margin) * scale, room.size() * scale);
    int cut = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            cut += qAlpha(canvas.pixel(x, y)) > 127 && !inside.contains(x, y);
    return cut;
}

// WCAG's relative luminance.
double Luminance(const QColor& colour) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

TEST_F(Look, AWhiteWindowWithABlueTitleAndDarkTextsThatFitUnderAnyThemeAndFontSize) {
    const QFont font = QApplication::font();
    const QPalette light, dark(QColor(45, 45, 45), QColor(45, 45, 45));  // light text on dark
    const std::tuple<const char*, QPalette, int> desktops[] = {
        {"light", light, 9}, {"light", light, 12}, {"dark", dark, 10}, {"dark", dark, 16}};
    for (const auto& [theme, palette, points] : desktops) {
        SCOPED_TRACE(::testing::Message() << theme << ", " << points << " points");
        QApplication::setPalette(palette);
        QApplication::setFont(QFont(font.family(), points));
        CKSTLDevRecoveryDlg& dlg = Open();
        dlg.SetPage(PAGE_WORKING);
        dlg.SetProgressPos(400);
        const QImage image = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const double scale = image.devicePixelRatio();
        auto pixels = [](QWidget& control) {  // its colours as drawn, without what lies on it
            const QImage part = control.grab().toImage().convertToFormat(QImage::Format_RGB32);
            const auto* first = reinterpret_cast<const QRgb*>(part.constBits());
            return std::vector<QRgb>(first, first + part.width() * part.height());
        };
        EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 255));
        EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);  // Quit is the way out
        EXPECT_GT(std::ranges::count(pixels(dlg.m_ctlTitle), kTitleBlue), 100 * scale * scale);
        int blueUpTo = 0;  // the rule under the title spans the window at any font size
        for (int y = 0; y < image.height(); ++y)
            for (int x = blueUpTo; x < image.width(); ++x)
                if (image.pixel(x, y) == kTitleBlue) blueUpTo = x;
        EXPECT_GT(blueUpTo, image.width() * 9 / 10);
        for (QLabel* text : {&dlg.m_ctlDescription, &dlg.m_ctlStatus}) {
            // On white, and the core of the glyphs, their darkest pixel, with a contrast of 4.5.
            double darkest = 1;
            for (QRgb pixel : pixels(*text)) darkest = std::min(darkest, Luminance(QColor(pixel)));
            EXPECT_GE(1.05 / (darkest + 0.05), 4.5) << text->text().toStdString();
            EXPECT_NE(std::ranges::count(pixels(*text), qRgb(255, 255, 255)), 0);
        }
        if (const QByteArray shots = qgetenv("KESTREL_LOOK_SHOTS"); !shots.isEmpty())
            image.save(shots + QString::asprintf("/wizard-%s-%dpt-%gx.png", theme, points, scale));
        // Not a text cut off, and the window round every control.
        std::vector<std::pair<QWidget*, QString>> texts = {
            {&dlg.m_ctlTitle, dlg.m_ctlTitle.text()},
            {&dlg.m_ctlStatus, "updating router firmware and rebooting router..."}};
        for (int page : {PAGE_WELCOME, PAGE_WORKING, PAGE_ROUTER_OK, PAGE_SUCCESS, PAGE_FAILED}) {
            dlg.SetPage(page);
            EXPECT_EQ(dlg.DescriptionText(), kPageTexts[page]);
            texts.emplace_back(&dlg.m_ctlDescription, dlg.DescriptionText());
            texts.emplace_back(&dlg.OkButton(), dlg.OkButton().text());  // Next, Quit, Retry
        }
        for (const auto& [control, text] : texts) {
            EXPECT_EQ(InkCutOff(*control, text), 0) << text.toStdString();
            EXPECT_TRUE(dlg.rect().contains(control->geometry()));
        }
        // Half a line clear between the description, which holds every page's text, and the
        // buttons.
        const QRect description = dlg.m_ctlDescription.geometry();
        EXPECT_GE(dlg.OkButton().y() - description.y() - description.height(),
                  QFontMetrics(dlg.font()).height() / 2);
    }
    QApplication::setPalette(QPalette());
    QApplication::setFont(font);
}

// The controls by their roles and names, which a name of its own given to a label would hide (and
// with it the label's changes).
TEST_F(Look, ScreenReadersHearTheControlsAndTheStatusButNotTheDecoration) {
    CKSTLDevRecoveryDlg& dlg = Open();
    dlg.SetPage(PAGE_WORKING);
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&dlg);
    using Heard = std::vector<std::pair<QAccessible::Role, QString>>;
    Heard heard;
    for (int i = 0; i < window->childCount(); ++i)
        heard.emplace_back(window->child(i)->role(), window->child(i)->text(QAccessible::Name));
    EXPECT_EQ(heard, Heard({{QAccessible::Button, "Next"},
                            {QAccessible::Button, "Quit"},
                            {QAccessible::StaticText, "KESTREL Router Firmware Recovery"},
                            {QAccessible::StaticText, kPageTexts[PAGE_WORKING]},
                            {QAccessible::ProgressBar, "Recovery progress"},
                            {QAccessible::StaticText, "checking router status..."}}));
}

}  // namespace
}  // namespace kestrel
