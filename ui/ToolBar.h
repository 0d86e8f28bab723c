// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QPointer>
#include <QToolButton>
#include <QWidget>

class QAction;
#include <QMenu>
class TImageList;

// A flat 23-pixel tool button that runs its command and shows one image of the
// image list; who enables or disables it also sets its image.
class TToolButton : public QToolButton {
    Q_OBJECT
public:
    TToolButton(const QString& name, QWidget* parent, const TImageList* images, QAction* command,
                const QString& hint);

    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index);

private:
    const TImageList* images_;
    int imageIndex_ = -1;
};

// The 8-pixel gap at the toolbar's left.
class TToolSeparator : public QWidget {
    Q_OBJECT
public:
    TToolSeparator(const QString& name, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A flat toolbar; a right click anywhere on it, buttons included, opens its menu.
class TToolBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int ButtonWidth = 23;
    static constexpr int ButtonHeight = 22;
    static constexpr int ButtonTop = 2;

    TToolBar(const QString& name, QWidget* parent);

    void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QMenu> popupMenu_;
};
