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
// the others (centre, mono) their mean. Every call waits at most its bound: a
// server that does not answer costs one bound, and is then left alone for a
// while, so a hanging server never freezes the window.
//
// Handed back the very value it reported first, it puts back the exact channel
// volumes it found on every device it has changed, so the user's setting
// returns bit for bit whatever the channel map.
class PulseWaveOutVolume : public WaveOutVolume {
public:
    // server: as PULSE_SERVER takes it; empty for the user's default.
    explicit PulseWaveOutVolume(std::string server = {},
                                std::chrono::milliseconds bound = std::chrono::milliseconds(300));
    ~PulseWaveOutVolume() override;
    PulseWaveOutVolume(const PulseWaveOutVolume&) = delete;
    PulseWaveOutVolume& operator=(const PulseWaveOutVolume&) = delete;

    bool GetVolume(std::uint32_t& volume) override;
    bool SetVolume(std::uint32_t volume) override;

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
    void Disconnect();
    // Runs the loop until the operation is done or the deadline passes.
    bool Finish(pa_operation* operation, Clock::time_point deadline);
    bool Iterate(Clock::time_point deadline);
    std::optional<Sink> ReadSink(const char* name, Clock::time_point deadline);
    bool WriteSink(const std::string& name, const pa_cvolume& volume, Clock::time_point deadline);
    // Starts a call: its deadline, or nothing while the server is being left alone.
    std::optional<Clock::time_point> Begin(bool evenIfQuiet);
    void NoteTimeout();

    std::string server_;
    std::chrono::milliseconds bound_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    Clock::time_point quietUntil_{};
    std::optional<std::uint32_t> firstReport_;
    // The devices this object has changed, with the volumes found on them.
    std::map<std::string, pa_cvolume> found_;
};
