// SPDX-License-Identifier: GPL-3.0-or-later

// The play list: Next, Previous, the end of a file, the loop modes, and the Play
// button following the selection. The play list is the file list's selection,
// read afresh at every step.

#include "ui/MainForm.h"

#include "media/MediaPlayer.h"
#include "ui/Controls.h"
#include "ui/FileListBox.h"
#include "ui/ImageList.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"
#include "ui/ToolBar.h"

namespace {

// The first selected item from `from` on, in the given direction, or -1.
int NextSelected(const TFileListBox& list, int from, int direction) {
    for (int index = from; index >= 0 && index < list.Count(); index += direction)
        if (list.Selected(index))
            return index;
    return -1;
}

} // namespace

void TForm1::SwitchToFile(int index, int ordinalStep, std::function<void()> playing) {
    FileIndex = index;
    Timer1->SetEnabled(false);
    MediaPlayer1->Stop();
    CloseFile();
    Timer1->SetEnabled(true);
    PlayOrdinal += ordinalStep;
    PlayCurrentFile(std::move(playing));
}

void TForm1::Action4Execute(QObject*) {
    if (MediaPlayer1->DeviceID() == 0)
        return;
    const int found = NextSelected(*FileListBox1, FileIndex + 1, +1);
    // No wrap-around, whatever the loop mode.
    if (found >= 0)
        SwitchToFile(found, +1, [this] { ShowStepForward(); });
}

void TForm1::ShowStepForward() {
    SetTransport(ToolButton2, P1, true, TImageList::PreviousImage);
    if (PlayOrdinal == FileListBox1->SelCount())
        SetTransport(ToolButton6, Next1, false, TImageList::Blank);
}

void TForm1::Action5Execute(QObject*) {
    if (MediaPlayer1->DeviceID() == 0)
        return;
    const int found = NextSelected(*FileListBox1, FileIndex - 1, -1);
    if (found < 0)
        return;
    SwitchToFile(found, -1, [this] {
        if (PlayOrdinal == 1)
            SetTransport(ToolButton2, P1, false, TImageList::Blank);
        SetTransport(ToolButton6, Next1, true, TImageList::NextImage);
    });
}

void TForm1::EndOfFile() {
    if (Single1->Checked()) {
        // The device rewinds a file that stands at its end: nothing is reopened.
        MediaPlayer1->Play();
        return;
    }
    if (FileIndex >= FileListBox1->Count())
        return;
    const int found = NextSelected(*FileListBox1, FileIndex + 1, +1);
    if (found >= 0) {
        FileIndex = found;
        // The device has stopped by itself; the timer keeps running.
        CloseFile();
        ++PlayOrdinal;
        PlayCurrentFile([this] { ShowStepForward(); });
        return;
    }
    if (All1->Checked())
        Action1Execute(this);
    // Otherwise the last file stays open at its end, in the playing look.
}

void TForm1::Action11Execute(QObject*) {
    SetTransport(ToolButton3, Play1, FileListBox1->SelCount() > 0, TImageList::PlayImage);
}

void TForm1::ToggleLoopMode(TMenuItem* mode, TMenuItem* other, const QString& label) {
    if (mode->Checked()) {
        mode->SetChecked(false);
        StatusBar1->SetPanelText(StatusPanel::LoopMode, QString());
        return;
    }
    mode->SetChecked(true);
    if (other->Checked())
        other->SetChecked(false);
    StatusBar1->SetPanelText(StatusPanel::LoopMode, label);
}

void TForm1::Action13Execute(QObject*) {
    ToggleLoopMode(Single1, All1, QStringLiteral("Single"));
}

void TForm1::Action14Execute(QObject*) {
    ToggleLoopMode(All1, Single1, QStringLiteral("All"));
}

void TForm1::Timer1Timer(QObject*) {
    if (MediaPlayer1->State() == TMediaState::Opening)
        return;
    if (MediaPlayer1->DeviceID() == 0) {
        ReturnToIdle();
        return;
    }
    if (MediaPlayer1->Mode() == mpStopped) {
        EndOfFile();
        return;
    }
    const int position = MediaPlayer1->Position();
    const int length = MediaPlayer1->Length();
    ProgressBar1->SetPosition(position);
    StatusBar1->SetPanelText(StatusPanel::Time, TimeText(position, length));
}
