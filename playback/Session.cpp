// SPDX-License-Identifier: GPL-3.0-or-later

// The media session: Play, Stop, Pause/Resume, opening one file, the idle reset
// and the close sequence.

#include "ui/MainForm.h"

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "media/MediaPlayer.h"
#include "platform/FileSystem.h"
#include "ui/Controls.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/ImageList.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"
#include "ui/ToolBar.h"

#include <QPointer>
#include <QScopedValueRollback>

void TForm1::PlayCurrentFile(std::function<void()> playing, bool idleOnError) {
    // The browser keeps the process's current folder on the listed one.
    MediaPlayer1->FileName = CurrentDirectory() + '/' + FileListBox1->ItemName(FileIndex);
    Panel4->show();
    MediaPlayer1->Open([this, playing = std::move(playing), idleOnError, release = HoldBrowser()] {
        release();
        try {
            MediaPlayer1->RaiseOpenError();
        } catch (const EMCIDeviceError& error) {
            if (!idleOnError)
                throw;
            // The engine's reason, then the browser back at once: the file that
            // was playing is closed by now.
            ShowErrorReport(error.Message);
            ReturnToIdle();
            return;
        }
        MediaRect picture; // stays empty without one
        MediaPlayer1->GetDisplayRect(picture);
        VideoHeight = picture.Bottom - picture.Top;
        VideoWidth = picture.Right - picture.Left;
        if (VideoHeight < 1 || VideoWidth < 1) {
            Panel4->hide();
            OpenFailed = true;
            AbandonPlayList();
            return;
        }
        MediaPlayer1->SetDisplayRect({0, 0, Panel3->width(), Panel3->height()});
        MediaPlayer1->SetTimeFormat(kTimeFormatMilliseconds);
        ProgressBar1->SetMax(MediaPlayer1->Length());
        ProgressBar1->SetPosition(0);
        Panel4->hide();
        MediaPlayer1->Play();
        StatusBar1->SetPanelText(StatusPanel::FileName,
                                 QStringLiteral("  ") + FileListBox1->ItemText(FileIndex));
        SizeReport();
        StatusBar1->SetPanelText(StatusPanel::Time,
                                 TimeText(MediaPlayer1->Position(), MediaPlayer1->Length()));
        StatusBar1->SetPanelText(StatusPanel::PlayList,
                                 PlayListText(PlayOrdinal, FileListBox1->SelCount()));
        OpenFailed = false;
        Timer1->SetEnabled(true);
        playing();
    });
}

void TForm1::AbandonPlayList() {
    // A file that cannot be played ends the whole play list: the rest is not tried.
    // The device is closed and the tick stopped before the box, whose own loop
    // would otherwise let the tick play on behind it.
    Action2Execute(this);
    ShowMessageBox(
        {QStringLiteral("このファイルは再生できません。"), ApplicationTitle(), MessageIcon::Error});
}

void TForm1::SetPlayingLook() {
    SetTransport(ToolButton4, Pause1, true, TImageList::PauseImage);
    SetTransport(ToolButton5, Stop1, true, TImageList::StopImage);
    DriveComboBox1->setEnabled(false);
    DirectoryListBox1->setEnabled(false);
    FileListBox1->setEnabled(false);
    // Keys go to the window itself while the browser is off.
    setFocus();
    Timer1->SetEnabled(true);
    AspectRatio1->setEnabled(true);
    OriginalSize1->setEnabled(true);
    if (FileListBox1->SelCount() > 1)
        SetTransport(ToolButton6, Next1, true, TImageList::NextImage);
    SetTransport(ToolButton2, P1, false, TImageList::Blank);
}

void TForm1::Action1Execute(QObject*) {
    if (FileListBox1->Count() == 0)
        return;
    for (FileIndex = 0; FileIndex < FileListBox1->Count(); ++FileIndex) {
        if (!FileListBox1->Selected(FileIndex))
            continue;
        PlayOrdinal = 1;
        Image1->hide();
        if (MediaPlayer1->DeviceID() != 0) {
            if (MediaPlayer1->Mode() != mpStopped) {
                Timer1->SetEnabled(false);
                MediaPlayer1->Stop();
            }
            CloseFile();
        }
        PlayCurrentFile([this] { SetPlayingLook(); }, true);
        return;
    }
}

void TForm1::Action2Execute(QObject*) {
    Timer1->SetEnabled(false);
    if (MediaPlayer1->DeviceID() == 0)
        return;
    if (MediaPlayer1->Mode() != mpStopped)
        MediaPlayer1->Stop();
    CloseFile();
    IdleReset();
}

std::function<void()> TForm1::HoldBrowser() {
    // While a file opens, keys and clicks meant for the player wait in its queue
    // as if the open had been instant: none reaches a list, whose letters would
    // search it and change the play list.
    const QPointer<QWidget> focused = focusWidget();
    // The file plays from the folder shown: a newer folder still being read would
    // replace the play list under it.
    DirectoryListBox1->AbandonRead();
    std::vector<QPointer<QWidget>> held;
    for (QWidget* list :
         std::initializer_list<QWidget*>{DriveComboBox1, DirectoryListBox1, FileListBox1}) {
        if (list->isEnabled()) {
            held.emplace_back(list);
            list->setEnabled(false);
        }
    }
    return [held = std::move(held), focused] {
        for (const QPointer<QWidget>& list : held)
            if (list)
                list->setEnabled(true);
        if (focused && focused->isEnabled())
            focused->setFocus();
    };
}

void TForm1::CloseFile() {
    MediaPlayer1->Close();
    MediaPlayer1->SetDisplay(Panel3);
    OpenFailed = false;
}

void TForm1::ReturnToIdle() {
    Timer1->SetEnabled(false);
    Action16Execute(this);
}

void TForm1::IdleReset() {
    SetTransport(ToolButton2, P1, false, TImageList::Blank);
    SetTransport(ToolButton4, Pause1, false, TImageList::Blank);
    SetTransport(ToolButton5, Stop1, false, TImageList::Blank);
    SetTransport(ToolButton6, Next1, false, TImageList::Blank);
    AspectRatio1->setEnabled(false);
    OriginalSize1->SetCaption(OriginalSizeCaption());
    OriginalSize1->setEnabled(false);
    ProgressBar1->SetPosition(0);
    for (int panel :
         {StatusPanel::PlayList, StatusPanel::Time, StatusPanel::Sizes, StatusPanel::FileName})
        StatusBar1->SetPanelText(panel, QString());
    StatusBar1->SetPanelText(StatusPanel::Sizes, AreaSizeText(Panel3->width(), Panel3->height()));
    DriveComboBox1->setEnabled(true);
    DirectoryListBox1->setEnabled(true);
    FileListBox1->setEnabled(true);
    Image1->show();
}

void TForm1::Action16Execute(QObject*) {
    Panel4->hide();
    MediaPlayer1->SetDisplay(Panel3);
    OpenFailed = false;
    IdleReset();
}

void TForm1::Action3Execute(QObject*) {
    if (MediaPlayer1->DeviceID() == 0)
        return;
    if (MediaPlayer1->Mode() == mpPlaying) {
        MediaPlayer1->Pause();
    } else {
        MediaPlayer1->Play();
        Timer1->SetEnabled(true);
    }
}

void TForm1::FormClose(QObject*) {
    // An open under way, and what waited for it, are given up: the program is ending.
    commands_.clear();
    if (MediaPlayer1->State() == TMediaState::Idle)
        return;
    Timer1->SetEnabled(false);
    if (MediaPlayer1->DeviceID() != 0 && MediaPlayer1->Mode() != mpStopped)
        MediaPlayer1->Stop();
    MediaPlayer1->Close();
}

void TForm1::Command(std::function<void()> command) {
    // While a file opens a command waits its turn; one that a running command
    // gives runs within it.
    if (inCommand_ && MediaPlayer1->State() != TMediaState::Opening)
        return RunGuarded(command);
    commands_.push_back({std::move(command), ModalBoxesShown()});
    RunWaitingCommands();
}

void TForm1::RunWaitingCommands() {
    // Within a command, the loop that runs it goes on.
    if (inCommand_)
        return;
    while (!commands_.empty() && MediaPlayer1->State() != TMediaState::Opening) {
        const WaitingCommand command = std::move(commands_.front());
        commands_.pop_front();
        // As if the open had been instant: input that came before a box went up,
        // the open's own or a command's, would have met the box, and is dropped.
        if (command.BoxesBefore != ModalBoxesShown())
            continue;
        const QScopedValueRollback<bool> running(inCommand_, true);
        RunGuarded(command.Run);
    }
    Q_EMIT CommandsRan();
}
