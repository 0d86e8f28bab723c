// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "platform/WaveOutVolume.h"

#include <chrono>
#include <optional>
#include <vector>

// An output device that lives in memory, for tests. It outlives the window that
// sets it, so a test can see what was left on it at exit.
struct MemoryOutputDevice {
    std::uint32_t Volume = 0xFFFFFFFF;
    bool Available = true; // without a device every call fails and changes nothing
    std::vector<std::uint32_t> Sets;
};

class MemoryWaveOutVolume : public WaveOutVolume {
public:
    explicit MemoryWaveOutVolume(MemoryOutputDevice& device) : device_(device) {}

    bool GetVolume(std::uint32_t& volume) override {
        if (!device_.Available)
            return false;
        volume = device_.Volume;
        return true;
    }
    bool SetVolume(std::uint32_t volume) override {
        if (!device_.Available)
            return false;
        if (!found_) {
            found_ = device_.Volume;
            foundAtNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
        }
        device_.Volume = volume;
        device_.Sets.push_back(volume);
        return true;
    }
    bool RestoreVolume() override {
        if (!found_)
            return true;
        if (!device_.Available)
            return false;
        device_.Volume = *found_;
        device_.Sets.push_back(*found_);
        return true;
    }
    std::vector<FoundVolume> FoundVolumes() const override {
        if (!found_)
            return {};
        return {{kDevice, {*found_}, foundAtNs_}};
    }
    void AdoptFoundVolumes(const std::vector<FoundVolume>& found) override {
        for (const FoundVolume& entry : found) {
            if (entry.Device == kDevice && entry.Channels.size() == 1) {
                found_ = entry.Channels.front();
                foundAtNs_ = entry.FoundAtNs;
            }
        }
    }

    static constexpr const char* kDevice = "memory";

private:
    MemoryOutputDevice& device_;
    std::optional<std::uint32_t> found_; // before the first set
    std::int64_t foundAtNs_ = 0;
};
