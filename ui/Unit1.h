// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

// The about box: the program icon, its name and version, and an OK button.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 252;
    static constexpr int ClientHeight = 90;

    explicit TAboutBox(QWidget* parent = nullptr);

    QPushButton* OKButton;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;

    // Places the box centred over owner's frame, now and again once a window
    // manager has framed it (its frame is unknown before the first showing).
    void CentreOver(QWidget* owner);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void Centre();

    QPointer<QWidget> owner_;
    bool frameUnknown_ = false;
};

extern TAboutBox* AboutBox;

// Where a box's frame goes to be centred over its owner's frame. A box never shown
// has no frame yet: it is taken to get the owner's frame margins.
QPoint CentredBoxPosition(const QRect& ownerFrame, const QRect& ownerClient, const QRect& boxFrame,
                          const QRect& boxClient);
