// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

// The seek bar: a progress bar whose position always lies within its range, drawn
// in floating point so that a range of hours in milliseconds paints smoothly.
class TProgressBar : public QWidget {
    Q_OBJECT
public:
    TProgressBar(const QString& name, QWidget* parent);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMax(int max);
    void SetPosition(int position);

Q_SIGNALS:
    void OnMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int FilledWidth() const;

    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};
