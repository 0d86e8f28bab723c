// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/KeptConnections.h"

#include <pulse/mainloop-api.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace {

struct Watch {
    int Fd;
    const pa_mainloop_api* Loop;
};

std::mutex keptLock;
std::map<const pa_io_event*, Watch> kept;
// The loop's own functions, the same for every loop of one implementation.
pa_io_event* (*loopIoNew)(pa_mainloop_api*, int, pa_io_event_flags_t, pa_io_event_cb_t,
                          void*) = nullptr;
void (*loopIoFree)(pa_io_event*) = nullptr;

pa_io_event* KeepingIoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t events,
                          pa_io_event_cb_t callback, void* userdata) {
    pa_io_event* event = loopIoNew(api, fd, events, callback, userdata);
    if (event != nullptr) {
        const std::lock_guard lock(keptLock);
        kept[event] = {fd, api};
    }
    return event;
}

void KeepingIoFree(pa_io_event* event) {
    {
        const std::lock_guard lock(keptLock);
        kept.erase(event);
    }
    loopIoFree(event);
}

} // namespace

void KeepConnections(pa_mainloop_api* api) {
    if (api->io_new == KeepingIoNew)
        return;
    const std::lock_guard lock(keptLock);
    loopIoNew = api->io_new;
    loopIoFree = api->io_free;
    api->io_new = KeepingIoNew;
    api->io_free = KeepingIoFree;
}

void ForgetConnections(const pa_mainloop_api* api) {
    const std::lock_guard lock(keptLock);
    std::erase_if(kept, [api](const auto& entry) { return entry.second.Loop == api; });
}

bool IsKeptConnection(int fd) {
    const std::lock_guard lock(keptLock);
    for (const auto& [event, watch] : kept)
        if (watch.Fd == fd)
            return true;
    return false;
}

std::vector<int> KeptConnectionsOf(const pa_mainloop_api* api) {
    std::vector<int> fds;
    {
        const std::lock_guard lock(keptLock);
        for (const auto& [event, watch] : kept)
            if (watch.Loop == api)
                fds.push_back(watch.Fd);
    }
    std::sort(fds.begin(), fds.end());
    fds.erase(std::unique(fds.begin(), fds.end()), fds.end());
    return fds;
}
