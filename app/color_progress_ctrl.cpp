// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/color_progress_ctrl.h"

#include <QPainter>
#include <QProxyStyle>
#include <algorithm>

namespace kestrel {
namespace {

constexpr int kBorder = 1;  // the window border around the client area

// The base class's painting keeps the books on what was painted last, but the look of the bar
// is our own: the style draws nothing. And as the fill has no chunks, every position differs
// from the last one painted.
class FlatBarStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element != CE_ProgressBar) QProxyStyle::drawControl(element, option, painter, widget);
    }
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_ProgressBarChunkWidth) return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace

CColorProgressCtrl::CColorProgressCtrl(QWidget* parent)
    : QProgressBar(parent), m_clrBar(0, 0, 255) {
    auto* style = new FlatBarStyle;
    style->setParent(this);
    setStyle(style);
    QProgressBar::setRange(0, 100);
    QProgressBar::setValue(0);
    setTextVisible(false);
    setAutoFillBackground(true);
}

void CColorProgressCtrl::SetRange(int lower, int upper) {
    QProgressBar::setRange(lower, upper);
    if (value() < lower) QProgressBar::setValue(lower);
}

void CColorProgressCtrl::SetStep(int step) {
    m_nStep = step;
}

int CColorProgressCtrl::SetPos(int position) {
    int previous = GetPos();
    QProgressBar::setValue(std::clamp(position, minimum(), maximum()));
    return previous;
}

int CColorProgressCtrl::GetPos() const {
    return std::max(value(), minimum());
}

int CColorProgressCtrl::StepIt() {
    int previous = GetPos();
    int next = previous + m_nStep;
    if (next > maximum()) next = minimum();
    QProgressBar::setValue(next);
    return previous;
}

void CColorProgressCtrl::paintEvent(QPaintEvent* event) {
    QProgressBar::paintEvent(event);
    OnPaint();
}

void CColorProgressCtrl::OnPaint() {
    QPainter painter(this);
    // The border is the window frame; everything else is drawn inside the client area.
    painter.setPen(QColor(0, 0, 0));
    painter.drawRect(0, 0, width() - 1, height() - 1);
    QRect client = rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
    painter.setClipRect(client);
    painter.translate(client.topLeft());

    const int left = 0;
    const int top = 0;
    const int right = client.width();
    const int bottom = client.height();
    const int position = GetPos();
    const int upper = maximum();
    if (upper == 0) return;
    const int filled = static_cast<int>(static_cast<double>(right - left) * position / upper);
    // Inset by one pixel on the left, top and bottom only: at the full position the fill runs
    // one pixel past the right edge and is clipped there.
    painter.fillRect(QRect(left + 1, top + 1, filled, (bottom - 1) - (top + 1)), m_clrBar);
}

}  // namespace kestrel
