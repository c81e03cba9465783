// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// How the wizard looks and reads: the colour bar's fill, the layout, the colours of the window
// under any theme, the fit of its texts, and what assistive tools are told. Run once more at a
// scale factor of 2.
#include <QtGui/private/qguiapplication_p.h>
#include <gtest/gtest.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <sys/stat.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>

#include "app/color_progress_ctrl.h"
#include "app/recovery_dlg.h"
#include "tests/app/image_folder.h"

namespace kestrel {
namespace {

const QColor kBlue(0, 0, 255);
const QColor kTitleBlue(0, 153, 204);

// Blue pixels of row y, as the first and one-past-the-last x; {0, 0} when there are none.
std::pair<int, int> BlueSpan(const QImage& image, int y) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, y) == kBlue) {
            if (first < 0) first = x;
            last = x;
        }
    }
    return first < 0 ? std::pair{0, 0} : std::pair{first, last + 1};
}

TEST(ColorProgressCtrl, FillFollowsThePositionOverTheClientWidth) {
    // A 350 x 30 window: a one-pixel border round a 348 x 28 client area from (1, 1).
    CColorProgressCtrl bar;
    bar.resize(350, 30);
    bar.SetRange(0, 1000);
    EXPECT_EQ(bar.m_clrBar, kBlue);
    struct Case {
        int position;
        std::pair<int, int> span;  // in window pixels
    };
    // filled = 348 * position / 1000; the fill starts one pixel into the client area and, at
    // the end, is clipped by the client area's right edge.
    const Case cases[] = {{0, {0, 0}}, {500, {2, 2 + 174}}, {1000, {2, 349}}, {3, {2, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        bar.SetPos(c.position);
        QImage image = bar.grab().toImage();
        ASSERT_EQ(image.size(), QSize(350, 30));
        EXPECT_EQ(BlueSpan(image, 0), (std::pair{0, 0}));   // border
        EXPECT_EQ(BlueSpan(image, 1), (std::pair{0, 0}));   // client inset at the top
        EXPECT_EQ(BlueSpan(image, 28), (std::pair{0, 0}));  // client inset at the bottom
        EXPECT_EQ(BlueSpan(image, 29), (std::pair{0, 0}));  // border
        for (int y = 2; y <= 27; ++y) ASSERT_EQ(BlueSpan(image, y), c.span) << "row " << y;
        EXPECT_EQ(image.pixelColor(0, 15), QColor(0, 0, 0));
        EXPECT_EQ(image.pixelColor(349, 15), QColor(0, 0, 0));
    }
}

TEST(ColorProgressCtrl, RepaintsAtEveryStep) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    CColorProgressCtrl bar;
    bar.resize(350, 30);
    bar.SetRange(0, 1000);
    bar.SetStep(2);
    bar.show();
    QCoreApplication::processEvents();
    bar.installEventFilter(&counter);
    for (int position = 2; position <= 40; position += 2) {
        const int before = counter.paints;
        bar.StepIt();
        QCoreApplication::processEvents();
        EXPECT_GT(counter.paints, before) << "position " << position;
    }
}

TEST(ColorProgressCtrl, PositionMessagesKeepToTheRangeAndStepWraps) {
    CColorProgressCtrl bar;
    bar.SetRange(0, 1000);
    bar.SetStep(2);
    EXPECT_EQ(bar.SetPos(1200), 0);
    EXPECT_EQ(bar.GetPos(), 1000);
    bar.SetPos(-5);
    EXPECT_EQ(bar.GetPos(), 0);
    bar.SetPos(997);
    EXPECT_EQ(bar.StepIt(), 997);
    EXPECT_EQ(bar.GetPos(), 999);
    bar.StepIt();
    EXPECT_EQ(bar.GetPos(), 0);  // 1001 is past the upper limit
}

class Look : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(testing::PlaceImageIn(folder_));
        char arg0[] = "kestrel-recovery";
        char arg1[] = "FW=x.bin";
        char* argv[] = {arg0, arg1};
        SetCommandLine(2, argv);
    }
    void TearDown() override {
        unsetenv("KESTREL_SYSTEM_DIR");
        QApplication::setPalette(QPalette());
        QApplication::setFont(font_);
    }
    QTemporaryDir folder_;
    QFont font_ = QApplication::font();
};

// A desktop theme with light text on dark windows.
QPalette DarkPalette() {
    QPalette dark;
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        dark.setColor(role, QColor(45, 45, 45));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(238, 238, 238));
    return dark;
}

double Luminance(const QColor& colour) {
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// The contrast of the darkest pixel in `area` (the core of the glyphs) against white.
double ContrastOnWhite(const QImage& image, const QRect& area) {
    double darkest = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            darkest = std::min(darkest, Luminance(image.pixelColor(x, y)));
    return 1.05 / (darkest + 0.05);
}

// Pixels of ink that `control` would cut off: `text` drawn as the control draws it, unclipped,
// at the screen's pixel ratio, with room all round. The faint edge of a glyph's smoothing may
// go; what is at least half ink may not.
int InkCutOff(QWidget& control, const QString& text, int flags) {
    constexpr int kInk = 127;
    const qreal scale = control.devicePixelRatioF();
    const QRect room = control.contentsRect();
    const int margin = room.height();
    QImage canvas((room.size() + QSize(2 * margin, 2 * margin)) * scale,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(scale);
    const int dotsPerMetre = qRound(control.logicalDpiY() / 0.0254);
    canvas.setDotsPerMeterX(dotsPerMetre);
    canvas.setDotsPerMeterY(dotsPerMetre);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setFont(control.font());
    painter.drawText(QRect(QPoint(margin, margin), room.size()), flags | Qt::TextDontClip, text);
    painter.end();
    const QRect inside(QPoint(margin, margin) * scale, room.size() * scale);
    int cut = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (qAlpha(canvas.pixel(x, y)) > kInk && !inside.contains(x, y)) ++cut;
    return cut;
}

TEST_F(Look, TemplateInDialogUnitsAndTheRunTimeRectangles) {
    CKSTLDevRecoveryDlg dlg;
    ASSERT_EQ(dlg.OnInitDialog(), TRUE);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "KESTREL Device Recovery");
    EXPECT_EQ(dlg.size(), dlg.MapDialogRect(0, 0, 240, 151).size());
    EXPECT_EQ(dlg.OkButton().geometry(), dlg.MapDialogRect(168, 126, 50, 14));
    EXPECT_EQ(dlg.CancelButton().geometry(), dlg.MapDialogRect(18, 126, 50, 14));
    // A text may need a little more height than the template's fonts did, never less.
    auto placed = [](const QRect& control, const QRect& templateRect) {
        return control.topLeft() == templateRect.topLeft() &&
               control.width() == templateRect.width() && control.height() >= templateRect.height();
    };
    EXPECT_TRUE(placed(dlg.m_ctlTitle.geometry(), dlg.MapDialogRect(24, 12, 195, 12)));
    EXPECT_TRUE(placed(dlg.m_ctlRule.geometry(), dlg.MapDialogRect(6, 24, 228, 12)));
    EXPECT_TRUE(placed(dlg.m_ctlStatus.geometry(), dlg.MapDialogRect(37, 126, 171, 8)));
    EXPECT_EQ(dlg.m_ctlDescription.geometry(), QRect(30, 90, 420, 150));
    EXPECT_EQ(dlg.m_ctlProgress.geometry(), QRect(55, 200, 350, 30));
    EXPECT_EQ(dlg.m_ctlProgressAux.geometry(), QRect(55, 200, 350, 30));
    EXPECT_EQ(dlg.m_ctlProgress.minimum(), 0);
    EXPECT_EQ(dlg.m_ctlProgress.maximum(), 1000);
    EXPECT_EQ(dlg.m_ctlProgressAux.value() <= 0, true);  // never given a position
    // Dialog units scale with the font: 4 horizontal and 8 vertical units per base unit.
    QRect unit = dlg.MapDialogRect(0, 0, 400, 800);
    EXPECT_GT(unit.width(), 400);
    EXPECT_GT(unit.height(), 800);
    EXPECT_TRUE(dlg.OkButton().isDefault());

    const Qt::WindowFlags flags = dlg.windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dlg.windowIcon().isNull());
    EXPECT_EQ(dlg.OnQueryDragIcon().availableSizes().value(0), QSize(32, 32));
}

TEST_F(Look, WhiteWindowWithABlueTitleAndRuleAndDarkTextUnderAnyTheme) {
    struct Row {
        const char* theme;
        QPalette palette;
    };
    for (const Row& row : {Row{"light", QPalette()}, Row{"dark", DarkPalette()}}) {
        SCOPED_TRACE(row.theme);
        QApplication::setPalette(row.palette);
        CKSTLDevRecoveryDlg dlg;
        ASSERT_EQ(dlg.OnInitDialog(), TRUE);
        dlg.SetPage(PAGE_WORKING);
        dlg.SetProgressPos(400);
        dlg.show();
        const QPixmap shot = dlg.grab();
        const QImage image = shot.toImage();
        const double scale = shot.devicePixelRatio();
        ASSERT_EQ(image.size(), dlg.size() * scale);
        // Where a control lies in the picture, which has `scale` pixels to one of the window.
        auto area = [scale](const QRect& r) {
            return QRect(QPoint(r.left(), r.top()) * scale, r.size() * scale);
        };
        auto count = [&image](const QRect& r, const QColor& colour) {
            int n = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    if (image.pixelColor(x, y) == colour) ++n;
            return n;
        };
        EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::white));
        EXPECT_EQ(image.pixelColor(image.width() - 2, image.height() - 2), QColor(Qt::white));
        EXPECT_GT(count(area(dlg.m_ctlTitle.geometry()), kTitleBlue), 100 * scale * scale);
        EXPECT_GT(count(area(dlg.m_ctlRule.geometry()), kTitleBlue), dlg.m_ctlRule.width() / 2);
        // The page text and the status line: readable on white, never in the title's blue.
        for (QLabel* text : {&dlg.m_ctlDescription, &dlg.m_ctlStatus}) {
            SCOPED_TRACE(text->text().toStdString());
            EXPECT_EQ(count(area(text->geometry()), kTitleBlue), 0);
            EXPECT_GT(count(area(text->geometry()), QColor(Qt::white)), 0);
            EXPECT_GE(ContrastOnWhite(image, area(text->geometry())), 4.5);
        }
        EXPECT_GT(count(area(dlg.m_ctlProgress.geometry()), kBlue), 0);
        EXPECT_TRUE(dlg.m_ctlTitle.font().bold());
        EXPECT_FALSE(dlg.m_ctlRule.font().bold());
        EXPECT_EQ(dlg.m_ctlTitle.font().family(), dlg.m_ctlRule.font().family());
        if (const QByteArray shots = qgetenv("KESTREL_LOOK_SHOTS"); !shots.isEmpty())
            image.save(QString::fromLocal8Bit(shots) +
                       QString::fromLatin1("/wizard-%1-%2x.png").arg(row.theme).arg(scale));
    }
}

TEST_F(Look, EveryTextFitsItsControlAtTheDesktopsFontSize) {
    const char* const longestStatus = "updating router firmware and rebooting router...";
    for (double points : {9.0, 10.0, 12.0, 16.0}) {
        SCOPED_TRACE(points);
        QFont desktop = font_;
        desktop.setPointSizeF(points);
        QApplication::setFont(desktop);
        CKSTLDevRecoveryDlg dlg;
        ASSERT_EQ(dlg.OnInitDialog(), TRUE);
        // Within the rounding to whole pixels.
        EXPECT_GE(QFontInfo(dlg.m_ctlDescription.font()).pointSizeF(), points - 0.5);
        for (int page : {PAGE_WELCOME, PAGE_WORKING, PAGE_ROUTER_OK, PAGE_SUCCESS, PAGE_FAILED}) {
            dlg.SetPage(page);
            EXPECT_EQ(InkCutOff(dlg.m_ctlDescription, dlg.DescriptionText(),
                                dlg.m_ctlDescription.alignment() | Qt::TextWordWrap),
                      0)
                << "page " << page;
        }
        EXPECT_EQ(InkCutOff(dlg.m_ctlTitle, dlg.m_ctlTitle.text(), dlg.m_ctlTitle.alignment()), 0);
        EXPECT_EQ(InkCutOff(dlg.m_ctlStatus, QString::fromLatin1(longestStatus),
                            dlg.m_ctlStatus.alignment()),
                  0);
        for (const char* label : {"Next", "Retry", "Quit"})
            EXPECT_EQ(InkCutOff(dlg.OkButton(), QString::fromLatin1(label), Qt::AlignCenter), 0);
        // The run-time rectangles grow with the font, and so does the window around them.
        for (QWidget* control : std::initializer_list<QWidget*>{
                 &dlg.m_ctlDescription, &dlg.m_ctlProgress, &dlg.m_ctlStatus})
            EXPECT_TRUE(dlg.rect().contains(control->geometry()));
    }
}

TEST_F(Look, ScreenReadersHearTheControlsAndTheStatusButNotTheDecoration) {
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    if (!platform) GTEST_SKIP() << "no accessibility on this platform";
    static std::vector<std::pair<QObject*, QAccessible::Event>> events;
    events.clear();
    QAccessible::installUpdateHandler(
        [](QAccessibleEvent* event) { events.emplace_back(event->object(), event->type()); });
    platform->setActive(true);

    CKSTLDevRecoveryDlg dlg;
    ASSERT_EQ(dlg.OnInitDialog(), TRUE);
    dlg.SetPage(PAGE_WORKING);
    dlg.show();
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&dlg);
    std::vector<std::pair<QAccessible::Role, std::string>> heard;
    for (int i = 0; i < window->childCount(); ++i) {
        QAccessibleInterface* child = window->child(i);
        heard.emplace_back(child->role(), child->text(QAccessible::Name).toStdString());
    }
    const std::vector<std::pair<QAccessible::Role, std::string>> expected = {
        {QAccessible::Button, "Next"},
        {QAccessible::Button, "Quit"},
        {QAccessible::StaticText, "KESTREL Router Firmware Recovery"},
        {QAccessible::StaticText, dlg.DescriptionText().toStdString()},
        {QAccessible::ProgressBar, "Recovery progress"},
        {QAccessible::StaticText, "checking router status..."},
    };
    EXPECT_EQ(heard, expected);

    events.clear();
    dlg.SetStatusText("uploading firmware to the router...");
    dlg.SetPage(PAGE_FAILED);
    const auto announced = [](QObject* object) {
        return std::count(events.begin(), events.end(),
                          std::pair{object, QAccessible::NameChanged});
    };
    EXPECT_EQ(announced(&dlg.m_ctlStatus), 1);
    EXPECT_EQ(announced(&dlg.m_ctlDescription), 1);
    platform->setActive(false);
    QAccessible::installUpdateHandler(nullptr);
}

}  // namespace
}  // namespace kestrel
