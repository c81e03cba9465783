// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// How the wizard looks: the colour bar's fill, the layout and the colours of the window.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
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
    void TearDown() override { unsetenv("KESTREL_SYSTEM_DIR"); }
    QTemporaryDir folder_;
};

TEST_F(Look, TemplateInDialogUnitsAndTheRunTimeRectangles) {
    CKSTLDevRecoveryDlg dlg;
    ASSERT_EQ(dlg.OnInitDialog(), TRUE);
    EXPECT_EQ(dlg.windowTitle().toStdString(), "KESTREL Device Recovery");
    EXPECT_EQ(dlg.size(), dlg.MapDialogRect(0, 0, 240, 151).size());
    EXPECT_EQ(dlg.OkButton().geometry(), dlg.MapDialogRect(168, 126, 50, 14));
    EXPECT_EQ(dlg.CancelButton().geometry(), dlg.MapDialogRect(18, 126, 50, 14));
    EXPECT_EQ(dlg.m_ctlTitle.geometry(), dlg.MapDialogRect(24, 12, 195, 12));
    EXPECT_EQ(dlg.m_ctlRule.geometry(), dlg.MapDialogRect(6, 24, 228, 12));
    EXPECT_EQ(dlg.m_ctlStatus.geometry(), dlg.MapDialogRect(37, 126, 171, 8));
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

TEST_F(Look, WhiteWindowWithABlueTitleAndRule) {
    CKSTLDevRecoveryDlg dlg;
    ASSERT_EQ(dlg.OnInitDialog(), TRUE);
    dlg.show();
    QImage image = dlg.grab().toImage();
    auto count = [&image](const QRect& area, const QColor& colour) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y) == colour) ++n;
        return n;
    };
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(image.width() - 2, image.height() - 2), QColor(Qt::white));
    EXPECT_GT(count(dlg.m_ctlTitle.geometry(), kTitleBlue), 100);
    EXPECT_GT(count(dlg.m_ctlRule.geometry(), kTitleBlue), dlg.m_ctlRule.width() / 2);
    // The page text is drawn in the ordinary text colour, never in the title's blue.
    EXPECT_EQ(count(dlg.m_ctlDescription.geometry(), kTitleBlue), 0);
    EXPECT_GT(count(dlg.m_ctlDescription.geometry(), QColor(Qt::white)), 0);
    EXPECT_TRUE(dlg.m_ctlTitle.font().bold());
    EXPECT_FALSE(dlg.m_ctlRule.font().bold());
    EXPECT_EQ(dlg.m_ctlTitle.font().family(), dlg.m_ctlRule.font().family());
}

}  // namespace
}  // namespace kestrel
