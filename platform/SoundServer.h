// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "platform/WaveOutVolume.h"

#include <QObject>

#include <pulse/channelmap.h>
#include <pulse/volume.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

// The player's one client of the sound server (PulseAudio, or PipeWire's pulse
// server), on libpulse's own thread. What the server holds and whether it
// answers are known from its callbacks, so no call waits on it but the restore
// at exit, and that within its bound. It reconnects when the server comes
// back; a server that came back is a new one (its cookie tells), and what its
// devices hold then is what the user has, unless it is still the player's level.
//
// The volume goes to the default output device: left-side channels take the
// low word, right-side ones the high word, the others (centre, mono) their mean.
// The exact channel volumes found on every device before the first change there
// are put back bit for bit.
class SoundServer : public QObject, public WaveOutVolume {
    Q_OBJECT
public:
    // server: as PULSE_SERVER takes it; empty for the user's default.
    explicit SoundServer(std::string server = {},
                         std::chrono::milliseconds restoreBound = std::chrono::milliseconds(300));
    ~SoundServer() override;
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // The default device's volume as the server last told it; false when not known.
    bool GetVolume(std::uint32_t& volume) override;
    // Sent without a wait; a server that does not answer gets the last level
    // once it answers again. False while no server answers.
    bool SetVolume(std::uint32_t volume) override;
    // Waits for the server's word at most the bound (a little while it does not answer).
    bool RestoreVolume() override;
    std::vector<FoundVolume> FoundVolumes() const override;
    void AdoptFoundVolumes(const std::vector<FoundVolume>& found) override;

    // The server is there, answers, and has made a playback stream ready.
    bool CanPlayNow() const;
    // The server reached, as a client connects to it; empty while none is.
    std::string Reached() const;

    // How long a request may go unanswered before the server counts as stopped.
    static constexpr std::chrono::milliseconds kAnswerBound{300};

    // The 16-bit channel value for a server volume and back; the pair round-trips.
    static pa_volume_t ToServer(std::uint32_t value);
    static std::uint32_t FromServer(pa_volume_t volume);
    // The server's channel volumes for one packed value on a device's channel map.
    static pa_cvolume ToChannels(std::uint32_t volume, const pa_channel_map& map);
    static std::uint32_t FromChannels(const pa_cvolume& volume, const pa_channel_map& map);

Q_SIGNALS:
    // On the object's thread: the server stopped answering (or went away), or
    // answers again.
    void AnsweringChanged(bool answering);

private:
    using Clock = std::chrono::steady_clock;
    struct Sink {
        std::string Name;
        pa_cvolume Volume{};
        pa_channel_map Map{};
    };

    // All of these run with the loop's lock held.
    void Connect();
    void Drop();
    void OnIdentified();
    void OnTick();
    void Sent();
    void Answered();
    void SetAnswering(bool answering);
    void SendLevel();
    // Whether what was found on a server that came back still holds.
    void CheckCameBack();
    void CheckPlaying();
    void DropCheck();

    static void StateCallback(pa_context*, void* self);
    static void ServerInfoCallback(pa_context*, const struct pa_server_info* info, void* self);
    static void CameBackCallback(pa_context*, const struct pa_sink_info* info, int eol, void* self);
    static void SinkCallback(pa_context*, const struct pa_sink_info* info, int eol, void* self);
    static void LevelSinkCallback(pa_context*, const struct pa_sink_info* info, int eol,
                                  void* self);
    static void WrittenCallback(pa_context*, int success, void* self);
    static void RestoredCallback(pa_context*, int success, void* self);
    static void EventCallback(pa_context*, int type, std::uint32_t index, void* self);
    static void StreamCallback(pa_stream*, void* self);
    static void TickCallback(struct pa_mainloop_api*, pa_time_event*, const struct timeval*,
                             void* self);

    std::string server_;
    std::chrono::milliseconds restoreBound_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* tick_ = nullptr;
    pa_stream* check_ = nullptr; // a corked stream: whether the server can play

    bool ready_ = false;     // connected, and the server is known
    bool answering_ = false; // as last reported
    bool playable_ = false;
    std::string reached_;
    std::optional<std::uint32_t> cookie_;
    bool cameBack_ = false; // another server instance than the one found on
    std::map<std::string, bool> keptOnReturn_;
    std::optional<Sink> defaultSink_;
    std::optional<std::uint32_t> level_; // the player's last level
    bool levelDue_ = false;              // to be sent once the server answers
    bool restoring_ = false;             // no level is written after the restore
    int unanswered_ = 0;
    Clock::time_point waitingSince_{};
    Clock::time_point lastSent_{};
    Clock::time_point lastAttempt_{};

    // The devices set, with the volumes found on them and when, and the last written.
    struct Found {
        pa_cvolume Volume{};
        Clock::time_point At{};
    };
    std::map<std::string, Found> found_;
    std::map<std::string, pa_cvolume> written_;

    // The restore's answers, waited for off the loop's lock.
    std::mutex restoreMutex_;
    std::condition_variable restoreAnswered_;
    int restoreAnswers_ = 0;
    bool checking_ = false; // a server that came back is being told from the last one
    bool restoreFailed_ = false;
};
