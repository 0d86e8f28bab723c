// Seeking with the mouse on the seek bar.

#include "ui/MainForm.h"

void TForm1::ProgressBar1MouseDown(QObject*, Qt::MouseButton, Qt::MouseButtons, int, int) {
    // Seeking is not built yet.
}

void TForm1::ProgressBar1MouseMove(QObject*, Qt::MouseButtons, int, int) {
    // Seeking is not built yet.
}

void TForm1::ProgressBar1MouseUp(QObject*, Qt::MouseButton, int, int) {
    // Seeking is not built yet.
}
