// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QWidget>

#include <vector>

// A status bar of fixed-width panels addressed by index; the last panel runs to
// the right edge. Presses report the buttons and x in the bar's coordinates.
class TStatusBar : public QWidget {
    Q_OBJECT
public:
    struct Panel {
        int Width = 50;
        Qt::Alignment Alignment = Qt::AlignHCenter;
        QString Text;
        QString Name = {}; // what the panel shows, for assistive technologies
    };

    TStatusBar(const QString& name, QWidget* parent, std::vector<Panel> panels);

    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    QString PanelName(int index) const;
    // Left and right edge of a panel in the bar's coordinates.
    std::pair<int, int> PanelSpan(int index) const;
    // Where a panel's text is drawn; what does not fit is cut off.
    QRect PanelTextRect(int index) const;

Q_SIGNALS:
    // button: the one that went down; buttons: all held at that moment.
    void OnMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers modifiers, int x, int y);
    void OnDblClick();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::vector<Panel> panels_;
};
