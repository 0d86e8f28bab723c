#include "platform/PulseWaveOutVolume.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>

#include <algorithm>

namespace {

const char* const kDefaultSink = "@DEFAULT_SINK@";
// After a call that timed out, later calls fail at once for this long.
constexpr auto kQuietTime = std::chrono::seconds(3);

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

struct SinkReply {
    std::optional<PulseWaveOutVolume::Sink> sink;
};

void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    if (eol != 0 || info == nullptr)
        return;
    auto& reply = *static_cast<SinkReply*>(userdata);
    reply.sink =
        PulseWaveOutVolume::Sink{info->name ? info->name : "", info->volume, info->channel_map};
}

void OnSuccess(pa_context*, int success, void* userdata) {
    *static_cast<int*>(userdata) = success;
}

} // namespace

PulseWaveOutVolume::PulseWaveOutVolume(std::string server, std::chrono::milliseconds bound)
    : server_(std::move(server)), bound_(bound) {}

PulseWaveOutVolume::~PulseWaveOutVolume() {
    Disconnect();
}

pa_volume_t PulseWaveOutVolume::ToServer(std::uint32_t value) {
    return static_cast<pa_volume_t>(
        static_cast<std::uint64_t>(std::min<std::uint32_t>(value, 0xFFFF)) * PA_VOLUME_NORM /
        0xFFFF);
}

std::uint32_t PulseWaveOutVolume::FromServer(pa_volume_t volume) {
    // Rounding up undoes the truncation of ToServer exactly.
    const std::uint64_t value =
        (static_cast<std::uint64_t>(volume) * 0xFFFF + PA_VOLUME_NORM - 1) / PA_VOLUME_NORM;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFF));
}

pa_cvolume PulseWaveOutVolume::ToChannels(std::uint32_t volume, const pa_channel_map& map) {
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

std::uint32_t PulseWaveOutVolume::FromChannels(const pa_cvolume& volume,
                                               const pa_channel_map& map) {
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

std::optional<PulseWaveOutVolume::Clock::time_point> PulseWaveOutVolume::Begin(bool evenIfQuiet) {
    const Clock::time_point now = Clock::now();
    if (!evenIfQuiet && now < quietUntil_)
        return std::nullopt;
    return now + bound_;
}

void PulseWaveOutVolume::NoteTimeout() {
    // A server that does not answer is dropped, and not asked again for a while.
    Disconnect();
    quietUntil_ = Clock::now() + kQuietTime;
}

bool PulseWaveOutVolume::Iterate(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return false;
    if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0)
        return false;
    if (pa_mainloop_poll(loop_) < 0)
        return false;
    return pa_mainloop_dispatch(loop_) >= 0;
}

bool PulseWaveOutVolume::Connected(Clock::time_point deadline) {
    if (context_ != nullptr) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state))
            Disconnect(); // the server went away: try once more
    }
    if (context_ == nullptr) {
        loop_ = pa_mainloop_new();
        if (loop_ == nullptr)
            return false;
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Qel");
        if (context_ == nullptr) {
            Disconnect();
            return false;
        }
        if (pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            Disconnect();
            return false;
        }
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            Disconnect();
            return false;
        }
        if (!Iterate(deadline)) {
            NoteTimeout();
            return false;
        }
    }
}

void PulseWaveOutVolume::Disconnect() {
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_ != nullptr) {
        pa_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

bool PulseWaveOutVolume::Finish(pa_operation* operation, Clock::time_point deadline) {
    if (operation == nullptr)
        return false;
    bool done = true;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || !Iterate(deadline)) {
            done = false;
            break;
        }
    }
    if (!done)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!done) {
        if (Clock::now() >= deadline)
            NoteTimeout();
        else
            Disconnect();
    }
    return done;
}

std::optional<PulseWaveOutVolume::Sink> PulseWaveOutVolume::ReadSink(const char* name,
                                                                     Clock::time_point deadline) {
    if (context_ == nullptr)
        return std::nullopt;
    SinkReply reply;
    if (!Finish(pa_context_get_sink_info_by_name(context_, name, OnSinkInfo, &reply), deadline))
        return std::nullopt;
    return reply.sink;
}

bool PulseWaveOutVolume::WriteSink(const std::string& name, const pa_cvolume& volume,
                                   Clock::time_point deadline) {
    if (context_ == nullptr)
        return false;
    int success = 0;
    if (!Finish(pa_context_set_sink_volume_by_name(context_, name.c_str(), &volume, OnSuccess,
                                                   &success),
                deadline))
        return false;
    return success != 0;
}

bool PulseWaveOutVolume::GetVolume(std::uint32_t& volume) {
    const auto deadline = Begin(false);
    if (!deadline || !Connected(*deadline))
        return false;
    const std::optional<Sink> sink = ReadSink(kDefaultSink, *deadline);
    if (!sink)
        return false;
    volume = FromChannels(sink->Volume, sink->Map);
    if (!firstReport_) {
        firstReport_ = volume;
        found_.emplace(sink->Name, sink->Volume);
    }
    return true;
}

bool PulseWaveOutVolume::SetVolume(std::uint32_t volume) {
    const bool restoring = firstReport_ && volume == *firstReport_ && !found_.empty();
    // Putting the user's setting back is tried even while the server is being left alone.
    const auto deadline = Begin(restoring);
    if (!deadline || !Connected(*deadline))
        return false;
    if (restoring) {
        bool all = true;
        for (const auto& [name, found] : found_)
            all = WriteSink(name, found, *deadline) && all;
        return all;
    }
    const std::optional<Sink> sink = ReadSink(kDefaultSink, *deadline);
    if (!sink)
        return false;
    found_.emplace(sink->Name, sink->Volume); // keeps the first volume found
    return WriteSink(sink->Name, ToChannels(volume, sink->Map), *deadline);
}
