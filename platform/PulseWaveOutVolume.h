// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "platform/WaveOutVolume.h"

#include <pulse/channelmap.h>
#include <pulse/volume.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct pa_context;
struct pa_mainloop;
struct pa_operation;

// The sound server's default output device (PulseAudio, or PipeWire's pulse
// server). Left-side channels take the low word, right-side ones the high word,
// the others (centre, mono) their mean. Every call waits at most its bound. A
// server that does not answer costs one bound; after that every call fails at
// once, without waiting, until the server answers again, and for at least the
// quiet time. So a hanging server never freezes the window.
//
// It keeps the exact channel volumes found on every device before its first
// change there, and RestoreVolume puts them back bit for bit whatever the
// channel map. A server that went away and came back is a new one: what its
// devices hold then is what the user has, unless it is still the player's level.
class PulseWaveOutVolume : public WaveOutVolume {
public:
    // server: as PULSE_SERVER takes it; empty for the user's default.
    explicit PulseWaveOutVolume(std::string server = {},
                                std::chrono::milliseconds bound = std::chrono::milliseconds(300),
                                std::chrono::milliseconds quiet = std::chrono::seconds(3));
    ~PulseWaveOutVolume() override;
    PulseWaveOutVolume(const PulseWaveOutVolume&) = delete;
    PulseWaveOutVolume& operator=(const PulseWaveOutVolume&) = delete;

    bool GetVolume(std::uint32_t& volume) override;
    bool SetVolume(std::uint32_t volume) override;
    bool RestoreVolume() override;
    std::vector<FoundVolume> FoundVolumes() const override;
    void AdoptFoundVolumes(const std::vector<FoundVolume>& found) override;

    // The 16-bit channel value for a server volume and back; the pair round-trips.
    static pa_volume_t ToServer(std::uint32_t value);
    static std::uint32_t FromServer(pa_volume_t volume);

    struct Sink {
        std::string Name;
        pa_cvolume Volume{};
        pa_channel_map Map{};
    };
    // The server's channel volumes for one packed value on a device's channel map.
    static pa_cvolume ToChannels(std::uint32_t volume, const pa_channel_map& map);
    static std::uint32_t FromChannels(const pa_cvolume& volume, const pa_channel_map& map);

private:
    using Clock = std::chrono::steady_clock;

    bool Connected(Clock::time_point deadline);
    // Which server instance this is; forgets what was found on an earlier one
    // unless its device still holds what the player left there.
    bool Identify(Clock::time_point deadline);
    void Disconnect();
    // Runs the loop until the operation is done or the deadline passes.
    bool Finish(pa_operation* operation, Clock::time_point deadline);
    bool Iterate(Clock::time_point deadline);
    // Takes in whatever has arrived, without waiting.
    void TakeIn();
    std::optional<Sink> ReadSink(const char* name, Clock::time_point deadline);
    bool WriteSink(const std::string& name, const pa_cvolume& volume, Clock::time_point deadline);
    // Starts a call: its deadline, or nothing while the server is left alone.
    std::optional<Clock::time_point> Begin();
    // Without waiting: false while a server that stopped answering still has not.
    bool Answering();
    void QueueRestore();
    void HoldOpen();
    void NoteTimeout();
    void NoteFound(const Sink& sink);

    std::string server_;
    std::chrono::milliseconds bound_;
    std::chrono::milliseconds quiet_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool identified_ = false;
    std::optional<std::uint32_t> cookie_;
    // Set when a call timed out: the server is asked nothing new until it answers
    // the probe (or the connection it had not finished).
    bool hung_ = false;
    bool heldOpen_ = false; // the connection was left to a holder for the server
    static constexpr int kHoldOpenMs = 10 * 60 * 1000;
    pa_operation* probe_ = nullptr;
    Clock::time_point quietUntil_{};
    // The devices this object has changed, with the volumes found on them and
    // the last it wrote.
    std::map<std::string, pa_cvolume> found_;
    std::map<std::string, pa_cvolume> written_;
    std::map<std::string, Clock::time_point> foundAt_;
};
