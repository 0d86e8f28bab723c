// The play list: Next, Previous, the end of a file, the loop modes, and the Play
// button following the selection.

#include "ui/MainForm.h"

#include "media/MediaPlayer.h"
#include "ui/Controls.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

void TForm1::Action4Execute(QObject*) {
    // The play list is not built yet.
}

void TForm1::Action5Execute(QObject*) {
    // The play list is not built yet.
}

void TForm1::Action11Execute(QObject*) {
    // The play list is not built yet.
}

void TForm1::Action13Execute(QObject*) {
    // The loop modes are not built yet.
}

void TForm1::Action14Execute(QObject*) {
    // The loop modes are not built yet.
}

void TForm1::Timer1Timer(QObject*) {
    if (MediaPlayer1->DeviceID() == 0) {
        Timer1->SetEnabled(false);
        Action16Execute(this);
        return;
    }
    if (MediaPlayer1->Mode() == mpStopped)
        return; // the end of a file: the play list's step comes with the loop modes
    const int position = MediaPlayer1->Position();
    const int length = MediaPlayer1->Length();
    ProgressBar1->SetPosition(position);
    StatusBar1->SetPanelText(StatusPanel::Time, TimeText(position, length));
}
