// Volume steps and mute on the system's output device.

#include "ui/MainForm.h"

void TForm1::Action8Execute(QObject*) {
    // The volume control is not built yet.
}

void TForm1::Action9Execute(QObject*) {
    // The volume control is not built yet.
}

void TForm1::Action10Execute(QObject*) {
    // The volume control is not built yet.
}
