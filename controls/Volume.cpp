// Volume steps and mute on the system's output device. The player sets the
// device itself, in eleven levels, and puts back what it found at exit.

#include "ui/MainForm.h"

#include "platform/WaveOutVolume.h"
#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

#include <QMenu>

int VolumeLeft = 100;
int VolumeRight = 100;
bool Muted = false;
std::uint32_t SavedWaveVolume = 0;
bool WaveVolumeSaved = false;

namespace {

std::uint32_t ChannelValue(int level) {
    // Truncating: level 50 gives 0x7FFF.
    return static_cast<std::uint32_t>(level * 65535 / 100);
}

} // namespace

void TForm1::SetWaveVolume(std::uint32_t volume) {
    waveOut_->SetVolume(volume);
}

void TForm1::ApplyVolume() {
    SetWaveVolume(PackVolume(ChannelValue(VolumeLeft), ChannelValue(VolumeRight)));
    StatusBar1->SetPanelText(StatusPanel::Volume, QStringLiteral("%1").arg(VolumeLeft, 3));
}

void TForm1::VolumeUp() {
    if (Muted || VolumeLeft >= 100)
        return;
    VolumeLeft += 10;
    VolumeRight = VolumeLeft;
    ApplyVolume();
    if (VolumeLeft == 100)
        Up1->setEnabled(false);
    if (!Down1->isEnabled())
        Down1->setEnabled(true);
}

void TForm1::VolumeDown() {
    if (Muted || VolumeLeft <= 0)
        return;
    VolumeLeft -= 10;
    VolumeRight = VolumeLeft;
    ApplyVolume();
    if (VolumeLeft == 0)
        Down1->setEnabled(false);
    if (!Up1->isEnabled())
        Up1->setEnabled(true);
}

void TForm1::Action8Execute(QObject*) {
    if (!Muted) {
        SetWaveVolume(0);
        StatusBar1->SetPanelText(StatusPanel::Volume, QStringLiteral("Mute"));
        Volume1->setEnabled(false);
        Muted = true;
    } else {
        // The level stood still while muted: the device gets exactly its old volume.
        ApplyVolume();
        Volume1->setEnabled(true);
        Muted = false;
    }
}

void TForm1::Action9Execute(QObject*) {
    VolumeUp();
}

void TForm1::Action10Execute(QObject*) {
    VolumeDown();
}

void TForm1::SaveWaveVolume() {
    WaveVolumeSaved = waveOut_->GetVolume(SavedWaveVolume);
}

void TForm1::RestoreWaveVolume() {
    // The device keeps what it found before the player's first change, also on a
    // device found later or a server that came back; sending SavedWaveVolume
    // would put the 0 that nothing was read into, or a level that only looks
    // like the start's, on whatever device is the default now.
    waveOut_->RestoreVolume();
}
