// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's life: create, show and destroy, and the Quit command. Its close
// step is the media session's (playback/Session.cpp).

#include "ui/MainForm.h"

#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

void TForm1::FormCreate(QObject*) {
    SaveWaveVolume();
}

void TForm1::FormShow(QObject*) {
    setAcceptDrops(true);
    StatusBar1->SetPanelText(StatusPanel::Sizes, AreaSizeText(Panel3->width(), Panel3->height()));
    ApplyVolume();
    ShowCommandLineFolder();
}

void TForm1::FormDestroy(QObject*) {
    RestoreWaveVolume();
}

void TForm1::Action6Execute(QObject*) {
    close();
}
