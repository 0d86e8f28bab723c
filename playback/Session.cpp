// The media session: Play, Stop, Pause/Resume and the idle reset.

#include "ui/MainForm.h"

void TForm1::Action1Execute(QObject*) {
    // Playback is not built yet.
}

void TForm1::Action2Execute(QObject*) {
    // Playback is not built yet.
}

void TForm1::Action3Execute(QObject*) {
    // Playback is not built yet.
}

void TForm1::Action16Execute(QObject*) {
    // Playback is not built yet.
}
