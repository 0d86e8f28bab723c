// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/MainForm.h"

#include "ui/Unit1.h"

#include "common/ErrorReport.h"

QPoint CentredBoxPosition(const QRect& ownerFrame, const QRect& ownerClient, const QRect& boxFrame,
                          const QRect& boxClient) {
    QSize box = boxFrame.size();
    if (box == boxClient.size())
        box += ownerFrame.size() - ownerClient.size();
    return ownerFrame.center() - QPoint(box.width() / 2, box.height() / 2);
}

void TForm1::Action7Execute(QObject*) {
    if (!AboutBox)
        return;
    // Centred over the main window; timers and playback go on under the modal loop.
    AboutBox->adjustSize();
    AboutBox->CentreOver(this);
    CountModalBox();
    AboutBox->exec();
    // Without a window manager nobody hands the keyboard back to the main window.
    activateWindow();
}
