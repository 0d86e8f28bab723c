// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/PulseWaveOutVolume.h"

#include "platform/KeptConnections.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>

#include <algorithm>
#include <csignal>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kDefaultSink = "@DEFAULT_SINK@";

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

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    if (info != nullptr && userdata != nullptr)
        *static_cast<std::optional<std::uint32_t>*>(userdata) = info->cookie;
}

bool SameVolume(const pa_cvolume& a, const pa_cvolume& b) {
    return pa_cvolume_equal(&a, &b) != 0;
}

// A stopped server reads what was sent to it once it goes on, but only from a
// connection that is still open: a closed one is dropped with the requests in it.
// A process of its own holds the connection open for the server after the player
// has gone, reads the answers and ends once they stop, or after the bound.
void HoldOpenForServer(const std::vector<int>& fds, int boundMs) {
    if (fds.empty())
        return;
    const pid_t first = ::fork();
    if (first < 0)
        return;
    if (first > 0) {
        ::waitpid(first, nullptr, 0);
        return;
    }
    // Only calls that are safe after a fork from here. A second fork leaves the
    // holder to the system, so that nobody has to wait for it.
    if (::fork() != 0)
        ::_exit(0);
    for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        std::signal(number, SIG_DFL);
    // Nothing else of the player's is held: its window and files close with it.
    unsigned int from = 0;
    for (const int fd : fds) {
        if (static_cast<unsigned int>(fd) > from)
            ::close_range(from, static_cast<unsigned int>(fd) - 1, 0);
        from = static_cast<unsigned int>(fd) + 1;
    }
    ::close_range(from, ~0U, 0);
    pollfd polls[8];
    const int count = static_cast<int>(std::min<std::size_t>(fds.size(), 8));
    for (int i = 0; i < count; ++i)
        polls[i] = {fds[static_cast<std::size_t>(i)], POLLIN, 0};
    // The first answer shows that the server goes on; once answers stop coming
    // for a second, it has read everything.
    int wait = boundMs;
    while (::poll(polls, static_cast<nfds_t>(count), wait) > 0) {
        char answer[4096];
        bool read = false;
        for (int i = 0; i < count; ++i)
            if ((polls[i].revents & POLLIN) && ::read(polls[i].fd, answer, sizeof answer) > 0)
                read = true;
        if (!read)
            break;
        wait = 1000;
    }
    ::_exit(0);
}

} // namespace

PulseWaveOutVolume::PulseWaveOutVolume(std::string server, std::chrono::milliseconds bound,
                                       std::chrono::milliseconds quiet)
    : server_(std::move(server)), bound_(bound), quiet_(quiet) {}

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

std::optional<PulseWaveOutVolume::Clock::time_point> PulseWaveOutVolume::Begin() {
    const Clock::time_point now = Clock::now();
    if (now < quietUntil_ || !Answering())
        return std::nullopt;
    return now + bound_;
}

bool PulseWaveOutVolume::Answering() {
    if (!hung_)
        return true;
    if (context_ == nullptr) {
        hung_ = false;
        return true;
    }
    TakeIn();
    const pa_context_state_t state = pa_context_get_state(context_);
    if (!PA_CONTEXT_IS_GOOD(state)) {
        Disconnect(); // gone rather than hanging: the next call tries afresh
        return true;
    }
    if (state != PA_CONTEXT_READY ||
        (probe_ != nullptr && pa_operation_get_state(probe_) == PA_OPERATION_RUNNING))
        return false;
    if (probe_ != nullptr) {
        pa_operation_unref(probe_);
        probe_ = nullptr;
    }
    hung_ = false;
    return true;
}

void PulseWaveOutVolume::NoteTimeout() {
    // The connection is kept: the server's answer to it, or to the probe, tells
    // that it is back, without anyone waiting for it.
    hung_ = true;
    quietUntil_ = Clock::now() + quiet_;
    if (probe_ == nullptr && context_ != nullptr &&
        pa_context_get_state(context_) == PA_CONTEXT_READY)
        probe_ = pa_context_get_server_info(context_, OnServerInfo, nullptr);
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

void PulseWaveOutVolume::TakeIn() {
    for (int i = 0; i < 16 && pa_mainloop_iterate(loop_, 0, nullptr) > 0; ++i) {
    }
}

bool PulseWaveOutVolume::Connected(Clock::time_point deadline) {
    if (context_ != nullptr)
        TakeIn(); // a server that went away since the last call shows it now
    if (context_ != nullptr && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
        Disconnect(); // the server went away: try once more
    if (context_ == nullptr) {
        loop_ = pa_mainloop_new();
        if (loop_ == nullptr)
            return false;
        // A cut of a silent server's connections spares this one: a restore sent
        // while the server is stopped still reaches it when it goes on.
        KeepConnections(pa_mainloop_get_api(loop_));
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
            return identified_ || Identify(deadline);
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

bool PulseWaveOutVolume::Identify(Clock::time_point deadline) {
    std::optional<std::uint32_t> cookie;
    if (!Finish(pa_context_get_server_info(context_, OnServerInfo, &cookie), deadline) || !cookie)
        return false;
    if (cookie_ && *cookie != *cookie_) {
        // A server that came back may have kept the level the player set; then
        // what the user had before is still the one to put back.
        for (auto it = found_.begin(); it != found_.end();) {
            const std::optional<Sink> sink = ReadSink(it->first.c_str(), deadline);
            if (context_ == nullptr || hung_)
                return false; // not answered: decided at the next call
            const auto written = written_.find(it->first);
            const bool kept =
                sink && written != written_.end() && SameVolume(sink->Volume, written->second);
            it = kept ? std::next(it) : found_.erase(it);
        }
    }
    cookie_ = cookie;
    identified_ = true;
    return true;
}

void PulseWaveOutVolume::Disconnect() {
    if (probe_ != nullptr) {
        pa_operation_cancel(probe_);
        pa_operation_unref(probe_);
        probe_ = nullptr;
    }
    hung_ = false;
    identified_ = false;
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_ != nullptr) {
        ForgetConnections(pa_mainloop_get_api(loop_));
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

void PulseWaveOutVolume::NoteFound(const Sink& sink) {
    // Keeps the first volume found.
    if (found_.emplace(sink.Name, sink.Volume).second)
        foundAt_[sink.Name] = Clock::now();
}

std::vector<FoundVolume> PulseWaveOutVolume::FoundVolumes() const {
    std::vector<FoundVolume> found;
    for (const auto& [name, volume] : found_) {
        const auto at = foundAt_.find(name);
        found.push_back(
            {name,
             {volume.values, volume.values + std::min<unsigned>(volume.channels, PA_CHANNELS_MAX)},
             at == foundAt_.end() ? 0
                                  : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        at->second.time_since_epoch())
                                        .count()});
    }
    return found;
}

void PulseWaveOutVolume::AdoptFoundVolumes(const std::vector<FoundVolume>& found) {
    for (const FoundVolume& entry : found) {
        if (entry.Device.empty() || entry.Channels.empty() ||
            entry.Channels.size() > PA_CHANNELS_MAX)
            continue;
        pa_cvolume volume{};
        volume.channels = static_cast<std::uint8_t>(entry.Channels.size());
        std::copy(entry.Channels.begin(), entry.Channels.end(), volume.values);
        if (pa_cvolume_valid(&volume) == 0)
            continue;
        found_[entry.Device] = volume;
        foundAt_[entry.Device] = Clock::time_point(std::chrono::nanoseconds(entry.FoundAtNs));
    }
}

bool PulseWaveOutVolume::GetVolume(std::uint32_t& volume) {
    const auto deadline = Begin();
    if (!deadline || !Connected(*deadline))
        return false;
    const std::optional<Sink> sink = ReadSink(kDefaultSink, *deadline);
    if (!sink)
        return false;
    volume = FromChannels(sink->Volume, sink->Map);
    return true;
}

bool PulseWaveOutVolume::SetVolume(std::uint32_t volume) {
    const auto deadline = Begin();
    if (!deadline || !Connected(*deadline))
        return false;
    const std::optional<Sink> sink = ReadSink(kDefaultSink, *deadline);
    if (!sink)
        return false;
    NoteFound(*sink);
    const pa_cvolume channels = ToChannels(volume, sink->Map);
    if (!WriteSink(sink->Name, channels, *deadline))
        return false;
    written_[sink->Name] = channels;
    return true;
}

bool PulseWaveOutVolume::RestoreVolume() {
    if (found_.empty() || heldOpen_)
        return true;
    // Tried even while the server is left alone: one more bound for it to answer,
    // one for the restore.
    Clock::time_point deadline = Clock::now() + bound_;
    while (hung_ && !Answering()) {
        if (!Iterate(deadline)) {
            QueueRestore();
            HoldOpen();
            return false;
        }
    }
    deadline = Clock::now() + bound_;
    if (!Connected(deadline))
        return false;
    bool all = true;
    for (const auto& [name, found] : found_)
        all = WriteSink(name, found, deadline) && all;
    if (hung_)
        HoldOpen(); // the restore was sent, and the server stopped before answering
    return all;
}

void PulseWaveOutVolume::HoldOpen() {
    if (context_ == nullptr || loop_ == nullptr)
        return;
    TakeIn(); // what is still queued goes out to the socket first
    HoldOpenForServer(KeptConnectionsOf(pa_mainloop_get_api(loop_)), kHoldOpenMs);
    heldOpen_ = true;
}

void PulseWaveOutVolume::QueueRestore() {
    // A stopped server reads its connection when it goes on, in order: the
    // restore queued behind the player's last level still undoes it.
    if (context_ == nullptr || pa_context_get_state(context_) != PA_CONTEXT_READY)
        return;
    for (const auto& [name, found] : found_)
        if (pa_operation* operation = pa_context_set_sink_volume_by_name(context_, name.c_str(),
                                                                         &found, nullptr, nullptr))
            pa_operation_unref(operation);
    TakeIn(); // writes the requests out to the socket
}
