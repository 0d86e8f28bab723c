#pragma once

#include <QDialog>

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

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

extern TAboutBox* AboutBox;
