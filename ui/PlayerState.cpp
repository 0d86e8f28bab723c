// SPDX-License-Identifier: GPL-3.0-or-later

// The player's process-wide state, defined together with the reset to the values
// every run starts from, so that a new variable cannot miss the reset.

#include "ui/MainForm.h"

int FileIndex = 0;
int PlayOrdinal = 0;
bool OpenFailed = false;
int VideoWidth = 0;
int VideoHeight = 0;

int SavedClientWidth = TForm1::DesignClientWidth;
int SavedClientHeight = TForm1::DesignClientHeight;
bool ResizingByProgram = false;

int VolumeLeft = 100;
int VolumeRight = 100;
bool Muted = false;
std::uint32_t SavedWaveVolume = 0;

void ResetPlayerState() {
    FileIndex = 0;
    PlayOrdinal = 0;
    OpenFailed = false;
    VideoWidth = 0;
    VideoHeight = 0;
    SavedClientWidth = TForm1::DesignClientWidth;
    SavedClientHeight = TForm1::DesignClientHeight;
    ResizingByProgram = false;
    VolumeLeft = 100;
    VolumeRight = 100;
    Muted = false;
    SavedWaveVolume = 0;
}
