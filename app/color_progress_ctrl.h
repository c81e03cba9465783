// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A progress bar that paints its filled part as one flat rectangle of m_clrBar.
#pragma once

#include <QColor>
#include <QProgressBar>

namespace kestrel {

class CColorProgressCtrl : public QProgressBar {
    Q_OBJECT
public:
    explicit CColorProgressCtrl(QWidget* parent = nullptr);

    // The progress-bar messages the wizard sends (PBM_SETRANGE, PBM_SETSTEP, PBM_SETPOS,
    // PBM_GETPOS, PBM_STEPIT).
    void SetRange(int lower, int upper);
    void SetStep(int step);
    int SetPos(int position);  // clamped to the range; returns the previous position
    int GetPos() const;
    int StepIt();  // past the upper limit the bar starts again at the lower; returns previous

    const QColor m_clrBar;

protected:
    void paintEvent(QPaintEvent* event) override;
    void OnPaint();

private:
    int m_nStep = 10;
};

}  // namespace kestrel
