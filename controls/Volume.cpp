// SPDX-License-Identifier: GPL-3.0-or-later

// Volume steps and mute on the system's output device. The player sets the
// device itself, in eleven levels, and puts back what it found at exit; of
// players running at once, the last one to end does.

#include "ui/MainForm.h"

#include "common/ErrorReport.h"
#include "platform/SharedVolumeRestore.h"
#include "platform/WaveOutVolume.h"
#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

#include <QDBusConnection>
#include <QMenu>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace {

// The device of the window whose volume is still to be put back. The lock keeps
// the window's thread and the termination deadline's off the device together.
std::timed_mutex deviceLock;
WaveOutVolume* pendingRestore = nullptr;
// Held until the player is known on the bus, or known to be without it.
bool deviceHeld = false;
// Where the players running beside this one are found at exit: the bus
// connection's name and this player's own name on it; empty while not shared.
QString sharedOn;
QString sharedAs;
// Short: the window is gone already, and a bus that does not answer in time
// means a restore.
constexpr std::chrono::milliseconds kHandOverBound(250);

// With the device's lock held. True when another player is left with the device.
bool HandedOver(const WaveOutVolume& device) {
    const QString ownName = std::exchange(sharedAs, QString());
    return !ownName.isEmpty() &&
           SharedVolumeRestore::HandOver(QDBusConnection(sharedOn), ownName, device.FoundVolumes(),
                                         kHandOverBound);
}

void RestoreAtExit(bool handOver) noexcept {
    std::unique_lock lock(deviceLock, std::defer_lock);
    // A device call that hangs on the window's thread must not hold the exit.
    if (!lock.try_lock_for(std::chrono::milliseconds(500)))
        return;
    WaveOutVolume* device = std::exchange(pendingRestore, nullptr);
    try {
        if (device != nullptr && !(handOver && HandedOver(*device)))
            device->RestoreVolume();
    } catch (...) {
    }
}

std::uint32_t ChannelValue(int level) {
    // Truncating: level 50 gives 0x7FFF.
    return static_cast<std::uint32_t>(level * 65535 / 100);
}

} // namespace

void TForm1::SetWaveVolume(std::uint32_t volume) {
    const std::lock_guard lock(deviceLock);
    if (!deviceHeld)
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
    // Each item is enabled exactly while its step can change the level.
    Up1->setEnabled(VolumeLeft < 100);
    Down1->setEnabled(true);
}

void TForm1::VolumeDown() {
    if (Muted || VolumeLeft <= 0)
        return;
    VolumeLeft -= 10;
    VolumeRight = VolumeLeft;
    ApplyVolume();
    Down1->setEnabled(VolumeLeft > 0);
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
    const std::lock_guard lock(deviceLock);
    if (deviceHeld)
        return;
    waveOut_->GetVolume(SavedWaveVolume);
    // Also unread: the device reads a server that appears later before its first change.
    pendingRestore = waveOut_.get();
    // Also when the program ends without its window's destroy handler: the
    // display's connection lost ends it through exit(), which has taken the bus
    // down already, so no player is asked.
    static const bool registered = std::atexit(RestoreWaveVolumeAtExit) == 0;
    (void)registered;
}

void HoldWaveVolumeUntilShared() {
    const std::lock_guard lock(deviceLock);
    deviceHeld = true;
}

void TForm1::SoundAsShown() {
    if (Muted)
        SetWaveVolume(0);
    else
        ApplyVolume();
}

void TForm1::ShareWaveVolume(const QDBusConnection& bus, const QString& ownName) {
    bool wasHeld = false;
    {
        const std::lock_guard lock(deviceLock);
        wasHeld = std::exchange(deviceHeld, false);
    }
    // Read only now, so that a player ending meanwhile has found this one on
    // the bus and left the device to it, or has put the user's level back.
    if (wasHeld) {
        SaveWaveVolume();
        SoundAsShown();
    }
    SharedVolumeRestore::Backend backend;
    backend.Found = [this] {
        std::vector<FoundVolume> found;
        RunGuarded([this, &found] {
            const std::lock_guard lock(deviceLock);
            found = waveOut_->FoundVolumes();
        });
        return found;
    };
    backend.Adopt = [this](const std::vector<FoundVolume>& found) {
        RunGuarded([this, &found] {
            const std::lock_guard lock(deviceLock);
            waveOut_->AdoptFoundVolumes(found);
        });
    };
    // The device now sounds as this window says: its level, or its mute.
    backend.TakeOver = [this] {
        Command([this] { SoundAsShown(); });
    };
    const auto* shared = new SharedVolumeRestore(bus, ownName, std::move(backend), this);
    if (shared->Sharing()) {
        const std::lock_guard lock(deviceLock);
        sharedOn = bus.name();
        sharedAs = ownName;
    }
}

void TForm1::RestoreWaveVolume() {
    const std::lock_guard lock(deviceLock);
    if (pendingRestore == waveOut_.get())
        pendingRestore = nullptr;
    // A player still running keeps the device, and what to put back at its end.
    if (HandedOver(*waveOut_))
        return;
    // The device keeps what it found before the player's first change, also on a
    // device found later or a server that came back; sending SavedWaveVolume
    // would put the 0 that nothing was read into, or a level that only looks
    // like the start's, on whatever device is the default now.
    waveOut_->RestoreVolume();
}

void RestoreWaveVolumeAtExit() noexcept {
    RestoreAtExit(false);
}

void HandOverOrRestoreWaveVolumeAtExit() noexcept {
    RestoreAtExit(true);
}
