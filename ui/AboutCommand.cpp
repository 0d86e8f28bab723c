#include "ui/MainForm.h"

#include "ui/Unit1.h"

void TForm1::Action7Execute(QObject*) {
    if (!AboutBox)
        return;
    // Centred over the main window; timers and playback go on under the modal loop.
    const QRect frame = frameGeometry();
    AboutBox->adjustSize();
    const QSize box = AboutBox->frameGeometry().size();
    AboutBox->move(frame.center() - QPoint(box.width() / 2, box.height() / 2));
    AboutBox->exec();
    // Without a window manager nobody hands the keyboard back to the main window.
    activateWindow();
}
