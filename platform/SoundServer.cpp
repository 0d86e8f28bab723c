// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/SoundServer.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <utility>

namespace {

const char* const kDefaultSink = "@DEFAULT_SINK@";
constexpr auto kTick = std::chrono::milliseconds(100);
// A server that is silent this long is asked whether it still answers.
constexpr auto kPingAfter = std::chrono::milliseconds(500);
constexpr auto kReconnectAfter = std::chrono::milliseconds(500);
// What a restore to a server that does not answer is given: its requests are
// written out to the socket, and nobody waits for an answer that will not come.
constexpr auto kRestoreUnanswered = std::chrono::milliseconds(50);

enum class Side { Left, Right, Middle };

Side SideOf(pa_channel_position_t position) {
    switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
    case PA_CHANNEL_POSITION_REAR_LEFT:
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_LEFT:
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
        return Side::Left;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
        return Side::Right;
    default:
        return Side::Middle; // mono, centre, LFE, auxiliary
    }
}

void Unref(pa_operation* operation) {
    if (operation != nullptr)
        pa_operation_unref(operation);
}

SoundServer* Self(void* self) {
    return static_cast<SoundServer*>(self);
}

// Locks libpulse's loop for one call from another thread; the loop thread holds
// it only while it dispatches, never while it waits.
class Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) {
        if (loop_ != nullptr)
            pa_threaded_mainloop_lock(loop_);
    }
    ~Locked() {
        if (loop_ != nullptr)
            pa_threaded_mainloop_unlock(loop_);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

} // namespace

SoundServer::SoundServer(std::string server, std::chrono::milliseconds restoreBound)
    : server_(std::move(server)), restoreBound_(restoreBound) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr)
        return;
    Connect();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(kTick.count()) * 1000);
    tick_ = api->time_new(api, &when, TickCallback, this);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        if (tick_ != nullptr)
            api->time_free(tick_);
        tick_ = nullptr;
        Drop();
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

SoundServer::~SoundServer() {
    if (loop_ == nullptr)
        return;
    pa_threaded_mainloop_stop(loop_);
    if (tick_ != nullptr)
        pa_threaded_mainloop_get_api(loop_)->time_free(tick_);
    Drop();
    pa_threaded_mainloop_free(loop_);
}

pa_volume_t SoundServer::ToServer(std::uint32_t value) {
    return static_cast<pa_volume_t>(
        static_cast<std::uint64_t>(std::min<std::uint32_t>(value, 0xFFFF)) * PA_VOLUME_NORM /
        0xFFFF);
}

std::uint32_t SoundServer::FromServer(pa_volume_t volume) {
    // Rounding up undoes the truncation of ToServer exactly.
    const std::uint64_t value =
        (static_cast<std::uint64_t>(volume) * 0xFFFF + PA_VOLUME_NORM - 1) / PA_VOLUME_NORM;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFF));
}

pa_cvolume SoundServer::ToChannels(std::uint32_t volume, const pa_channel_map& map) {
    const std::uint32_t left = LeftOf(volume);
    const std::uint32_t right = RightOf(volume);
    pa_cvolume channels{};
    channels.channels = map.channels;
    for (unsigned i = 0; i < map.channels && i < PA_CHANNELS_MAX; ++i) {
        const Side side = SideOf(map.map[i]);
        const std::uint32_t value = side == Side::Left    ? left
                                    : side == Side::Right ? right
                                                          : (left + right) / 2;
        channels.values[i] = ToServer(value);
    }
    return channels;
}

std::uint32_t SoundServer::FromChannels(const pa_cvolume& volume, const pa_channel_map& map) {
    std::uint64_t sums[3] = {0, 0, 0}; // left, right, all
    unsigned counts[3] = {0, 0, 0};
    const unsigned channels = std::min<unsigned>(volume.channels, map.channels);
    for (unsigned i = 0; i < channels && i < PA_CHANNELS_MAX; ++i) {
        const Side position = SideOf(map.map[i]);
        const int side = position == Side::Left ? 0 : position == Side::Right ? 1 : -1;
        if (side >= 0) {
            sums[side] += volume.values[i];
            ++counts[side];
        }
        sums[2] += volume.values[i];
        ++counts[2];
    }
    const auto mean = [&](int side) {
        const int from = counts[side] > 0 ? side : 2;
        return counts[from] > 0 ? static_cast<pa_volume_t>(sums[from] / counts[from])
                                : PA_VOLUME_MUTED;
    };
    return PackVolume(FromServer(mean(0)), FromServer(mean(1)));
}

void SoundServer::Connect() {
    lastAttempt_ = Clock::now();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Qel");
    if (context_ == nullptr)
        return;
    pa_context_set_state_callback(context_, StateCallback, this);
    if (pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        Drop();
}

void SoundServer::DropCheck() {
    if (check_ == nullptr)
        return;
    pa_stream_set_state_callback(check_, nullptr, nullptr);
    pa_stream_disconnect(check_);
    pa_stream_unref(check_);
    check_ = nullptr;
}

void SoundServer::Drop() {
    DropCheck();
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    ready_ = false;
    playable_ = false;
    defaultSink_.reset();
    unanswered_ = 0;
    {
        const std::lock_guard lock(restoreMutex_);
        checking_ = false;
    }
    // A level is sent again to a server that kept the connection, not to a new one.
    levelDue_ = false;
    SetAnswering(false);
}

void SoundServer::StateCallback(pa_context* context, void* self) {
    auto& sound = *Self(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        const char* reached = pa_context_get_server(context);
        sound.reached_ = reached != nullptr ? reached : "";
        pa_context_set_subscribe_callback(
            context,
            [](pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* s) {
                EventCallback(c, static_cast<int>(type), index, s);
            },
            self);
        Unref(pa_context_subscribe(context,
                                   static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                       PA_SUBSCRIPTION_MASK_SERVER),
                                   nullptr, nullptr));
        sound.Sent();
        Unref(pa_context_get_server_info(context, ServerInfoCallback, self));
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        // Freed on the next tick, outside the context's own callback.
        sound.ready_ = false;
        sound.SetAnswering(false);
    }
}

void SoundServer::ServerInfoCallback(pa_context*, const pa_server_info* info, void* self) {
    auto& sound = *Self(self);
    sound.Answered();
    if (sound.ready_ || info == nullptr)
        return;
    // A server that came back is told from the last one before the next change
    // or the restore.
    sound.cameBack_ = sound.cookie_ && *sound.cookie_ != info->cookie && !sound.found_.empty();
    sound.cookie_ = info->cookie;
    sound.OnIdentified();
}

void SoundServer::CheckCameBack() {
    if (!cameBack_ || context_ == nullptr)
        return;
    cameBack_ = false;
    keptOnReturn_.clear();
    {
        const std::lock_guard lock(restoreMutex_);
        checking_ = true;
    }
    Sent();
    Unref(pa_context_get_sink_info_list(context_, CameBackCallback, this));
}

void SoundServer::CameBackCallback(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto& sound = *Self(self);
    if (eol == 0 && info != nullptr && info->name != nullptr) {
        const auto written = sound.written_.find(info->name);
        sound.keptOnReturn_[info->name] = written != sound.written_.end() &&
                                          pa_cvolume_equal(&info->volume, &written->second) != 0;
        return;
    }
    sound.Answered();
    // A server that came back may have kept the level the player set; then
    // what the user had before is still the one to put back.
    for (auto it = sound.found_.begin(); it != sound.found_.end();) {
        if (sound.keptOnReturn_[it->first]) {
            ++it;
        } else {
            it = sound.found_.erase(it);
        }
    }
    {
        const std::lock_guard lock(sound.restoreMutex_);
        sound.checking_ = false;
    }
    sound.restoreAnswered_.notify_all();
}

void SoundServer::OnIdentified() {
    ready_ = true;
    SetAnswering(true);
    Sent();
    Unref(pa_context_get_sink_info_by_name(context_, kDefaultSink, SinkCallback, this));
    CheckPlaying();
    if (levelDue_)
        SendLevel();
}

void SoundServer::EventCallback(pa_context* context, int type, std::uint32_t, void* self) {
    auto& sound = *Self(self);
    const int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (!sound.ready_ ||
        (facility != PA_SUBSCRIPTION_EVENT_SINK && facility != PA_SUBSCRIPTION_EVENT_SERVER))
        return;
    // Another default device, or the user's own change: known before it is asked for.
    sound.Sent();
    Unref(pa_context_get_sink_info_by_name(context, kDefaultSink, SinkCallback, self));
}

void SoundServer::SinkCallback(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto& sound = *Self(self);
    if (eol == 0 && info != nullptr)
        sound.defaultSink_ = {info->name != nullptr ? info->name : "", info->volume,
                              info->channel_map};
    else
        sound.Answered();
}

void SoundServer::LevelSinkCallback(pa_context* context, const pa_sink_info* info, int eol,
                                    void* self) {
    auto& sound = *Self(self);
    if (eol != 0 || info == nullptr) {
        sound.Answered();
        return;
    }
    const Sink sink{info->name != nullptr ? info->name : "", info->volume, info->channel_map};
    sound.defaultSink_ = sink;
    if (sound.restoring_ || !sound.level_)
        return;
    // What the device held before the player's first change there.
    sound.found_.try_emplace(sink.Name, Found{sink.Volume, Clock::now()});
    const pa_cvolume channels = ToChannels(*sound.level_, sink.Map);
    sound.written_[sink.Name] = channels;
    sound.Sent();
    Unref(pa_context_set_sink_volume_by_name(context, sink.Name.c_str(), &channels, WrittenCallback,
                                             self));
}

void SoundServer::WrittenCallback(pa_context*, int, void* self) {
    Self(self)->Answered();
}

void SoundServer::RestoredCallback(pa_context*, int success, void* self) {
    auto& sound = *Self(self);
    sound.Answered();
    {
        const std::lock_guard lock(sound.restoreMutex_);
        ++sound.restoreAnswers_;
        sound.restoreFailed_ = sound.restoreFailed_ || success == 0;
    }
    sound.restoreAnswered_.notify_all();
}

void SoundServer::Sent() {
    const Clock::time_point now = Clock::now();
    if (unanswered_++ == 0)
        waitingSince_ = now;
    lastSent_ = now;
}

void SoundServer::Answered() {
    unanswered_ = std::max(0, unanswered_ - 1);
    waitingSince_ = Clock::now();
    if (ready_ && !answering_) {
        SetAnswering(true);
        if (levelDue_)
            SendLevel();
    }
}

void SoundServer::SetAnswering(bool answering) {
    if (answering == answering_)
        return;
    answering_ = answering;
    QMetaObject::invokeMethod(
        this, [this, answering] { Q_EMIT AnsweringChanged(answering); }, Qt::QueuedConnection);
}

void SoundServer::SendLevel() {
    if (!level_ || context_ == nullptr)
        return;
    if (!ready_ || !answering_) {
        // Kept for a server being reached or standing still, not for one that is gone.
        levelDue_ = ready_ || PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        return;
    }
    levelDue_ = false;
    CheckCameBack();
    // Read first: what the device holds before the player's first change there
    // is what the restore puts back.
    Sent();
    Unref(pa_context_get_sink_info_by_name(context_, kDefaultSink, LevelSinkCallback, this));
}

void SoundServer::CheckPlaying() {
    // A server that answers but never makes a stream ready (PipeWire without its
    // session manager links none to a device) cannot play: the engine would wait
    // half a minute on it. Asked once a connection, corked, so nothing sounds.
    if (playable_ || check_ != nullptr || context_ == nullptr)
        return;
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
    check_ = pa_stream_new(context_, "Qel", &spec, nullptr);
    if (check_ == nullptr)
        return;
    pa_stream_set_state_callback(check_, StreamCallback, this);
    if (pa_stream_connect_playback(check_, nullptr, nullptr, PA_STREAM_START_CORKED, nullptr,
                                   nullptr) < 0)
        playable_ = true; // refused at once: the engine does not wait on it either
}

void SoundServer::StreamCallback(pa_stream* stream, void* self) {
    auto& sound = *Self(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    // A stream refused at once costs the engine no wait either; one that the
    // library gave up on after its half minute is asked for again.
    if (state == PA_STREAM_READY ||
        (state == PA_STREAM_FAILED && pa_context_errno(sound.context_) != PA_ERR_TIMEOUT))
        sound.playable_ = true;
}

void SoundServer::TickCallback(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                               void* self) {
    Self(self)->OnTick();
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(kTick.count()) * 1000);
    api->time_restart(event, &when);
}

void SoundServer::OnTick() {
    const Clock::time_point now = Clock::now();
    if (context_ == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        if (context_ != nullptr)
            Drop();
        if (now - lastAttempt_ >= kReconnectAfter)
            Connect();
        return;
    }
    if (!ready_)
        return;
    if (check_ != nullptr && pa_stream_get_state(check_) != PA_STREAM_CREATING)
        DropCheck();
    CheckPlaying();
    if (unanswered_ > 0 && now - waitingSince_ > kAnswerBound) {
        SetAnswering(false);
    } else if (unanswered_ == 0 && now - lastSent_ >= kPingAfter) {
        Sent();
        Unref(pa_context_get_server_info(context_, ServerInfoCallback, this));
    }
}

bool SoundServer::GetVolume(std::uint32_t& volume) {
    const Locked lock(loop_);
    if (!defaultSink_)
        return false;
    volume = FromChannels(defaultSink_->Volume, defaultSink_->Map);
    return true;
}

bool SoundServer::SetVolume(std::uint32_t volume) {
    const Locked lock(loop_);
    level_ = volume;
    restoring_ = false;
    SendLevel();
    return ready_ && answering_;
}

bool SoundServer::RestoreVolume() {
    const Clock::time_point deadline = Clock::now() + restoreBound_;
    {
        const Locked lock(loop_);
        restoring_ = true;
        if (ready_ && answering_)
            CheckCameBack();
    }
    {
        std::unique_lock lock(restoreMutex_);
        restoreAnswered_.wait_until(lock, deadline, [&] { return !checking_; });
    }
    int sent = 0;
    bool answering = false;
    {
        const Locked lock(loop_);
        if (found_.empty())
            return true;
        answering = ready_ && answering_;
        {
            const std::lock_guard restore(restoreMutex_);
            restoreAnswers_ = 0;
            restoreFailed_ = false;
        }
        // Sent also to a server that does not answer now: one stopped reads it
        // when it goes on, as long as the connection is open.
        for (const auto& [name, found] : found_) {
            if (!ready_ || context_ == nullptr)
                break;
            if (pa_operation* operation = pa_context_set_sink_volume_by_name(
                    context_, name.c_str(), &found.Volume, RestoredCallback, this)) {
                Sent();
                pa_operation_unref(operation);
                ++sent;
            }
        }
    }
    if (sent == 0)
        return false;
    std::unique_lock lock(restoreMutex_);
    const bool all = restoreAnswered_.wait_until(
        lock, answering ? deadline : std::min(deadline, Clock::now() + kRestoreUnanswered),
        [&] { return restoreAnswers_ >= sent; });
    return all && !restoreFailed_;
}

std::vector<FoundVolume> SoundServer::FoundVolumes() const {
    const Locked lock(loop_);
    std::vector<FoundVolume> found;
    for (const auto& [name, entry] : found_) {
        const pa_cvolume& volume = entry.Volume;
        found.push_back(
            {name,
             {volume.values, volume.values + std::min<unsigned>(volume.channels, PA_CHANNELS_MAX)},
             std::chrono::duration_cast<std::chrono::nanoseconds>(entry.At.time_since_epoch())
                 .count()});
    }
    return found;
}

void SoundServer::AdoptFoundVolumes(const std::vector<FoundVolume>& found) {
    const Locked lock(loop_);
    for (const FoundVolume& entry : found) {
        if (entry.Device.empty() || entry.Channels.empty() ||
            entry.Channels.size() > PA_CHANNELS_MAX)
            continue;
        pa_cvolume volume{};
        volume.channels = static_cast<std::uint8_t>(entry.Channels.size());
        std::copy(entry.Channels.begin(), entry.Channels.end(), volume.values);
        if (pa_cvolume_valid(&volume) == 0)
            continue;
        found_[entry.Device] = {volume,
                                Clock::time_point(std::chrono::nanoseconds(entry.FoundAtNs))};
    }
}

bool SoundServer::CanPlayNow() const {
    const Locked lock(loop_);
    return ready_ && answering_ && playable_;
}

std::string SoundServer::Reached() const {
    const Locked lock(loop_);
    return ready_ ? reached_ : std::string();
}
