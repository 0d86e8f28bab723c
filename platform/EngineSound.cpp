// SPDX-License-Identifier: GPL-3.0-or-later

// The engine's sound output, chosen from what the one client of the sound
// server knows: the server it reached, and whether that one can play now.

#include "platform/MpvMediaService.h"

#include "platform/SoundServer.h"

#include <mpv/client.h>

namespace {
const char* const kSoundOutputs = MpvMediaService::kSoundOutputs;
const char* const kNoSoundOutput = "null";
} // namespace

void MpvMediaService::ChooseSoundOutput() {
    // The engine plays on exactly the server the volume reached, or without sound
    // when that one does not answer or cannot play.
    const std::string server = sound_ ? sound_->Reached() : std::string();
    if (!server.empty() && server != soundHost_) {
        soundHost_ = server;
        const char* host = soundHost_.c_str();
        mpv_set_property_async(core_.get(), 0, "pulse-host", MPV_FORMAT_STRING, &host);
    }
    UseSoundOutput(sound_ && !sound_->CanPlayNow());
}

void MpvMediaService::UseSoundOutput(bool silent) {
    if (silent != soundSilenced_) {
        mpv_set_property_async(core_.get(), 0, "ao", MPV_FORMAT_STRING,
                               const_cast<char**>(silent ? &kNoSoundOutput : &kSoundOutputs));
        soundSilenced_ = silent;
    }
}
