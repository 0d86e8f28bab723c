// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Small controls of the main window: panels, the icon image, menu items and the
// tick timer. Each keeps the window's own names and events.

#include <QAction>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <QMenu>

// A panel: a flat or raised area with a background colour. Reports left-button
// clicks (release inside after a press) and double clicks, and opens its popup
// menu on a right click.
class TPanel : public QFrame {
    Q_OBJECT
public:
    enum class Bevel { None, Raised };
    TPanel(const QString& name, QWidget* parent, Bevel bevel, const QColor& colour);

    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }

Q_SIGNALS:
    void OnClick();
    void OnDblClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QPointer<QMenu> popupMenu_;
    bool clicked_ = false; // a left press that may become a click
};

// An image that shows one picture, scaled to its size.
class TImage : public QLabel {
    Q_OBJECT
public:
    TImage(const QString& name, QWidget* parent, const QPixmap& picture);
};

// A popup-menu item bound to a command. Its enabled state and check mark are its
// own; choosing it runs the command. A shortcut text is a label only.
class TMenuItem : public QAction {
    Q_OBJECT
public:
    TMenuItem(const QString& name, const QString& caption, const QString& shortcutLabel,
              QAction* command, QObject* parent);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    QString ShortcutLabel() const { return shortcutLabel_; }

private:
    void UpdateText();

    QString caption_;
    QString shortcutLabel_;
    QPointer<QAction> command_;
    bool checked_ = false;
};

// A periodic timer whose Enabled can be set again without restarting it.
class TTimer : public QObject {
    Q_OBJECT
public:
    TTimer(const QString& name, QObject* parent, int intervalMs);

    bool Enabled() const { return timer_.isActive(); }
    void SetEnabled(bool enabled);
    int Interval() const { return timer_.interval(); }
    // An enabled timer fires now and counts its interval from here.
    void FireNow();

Q_SIGNALS:
    void OnTimer();

private:
    QTimer timer_;
    QElapsedTimer lastFiredNow_;
};
