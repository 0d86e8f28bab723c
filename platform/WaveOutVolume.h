// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a restore puts back on one device: the volume found there before the
// first change, in the backend's own units, and when it was found. The clock
// is the steady one, which every process of the machine shares.
struct FoundVolume {
    std::string Device;
    std::vector<std::uint32_t> Channels;
    std::int64_t FoundAtNs = 0;
};

// The volume of the system's output device as one 32-bit value: the left
// channel in the low 16 bits, the right in the high 16 bits, each from 0
// (silent) to 0xFFFF (full scale).
class WaveOutVolume {
public:
    virtual ~WaveOutVolume() = default;

    // False when there is no device to ask; volume is then left unchanged.
    virtual bool GetVolume(std::uint32_t& volume) = 0;
    // False when the device could not be set. A value is always sent as it is.
    virtual bool SetVolume(std::uint32_t volume) = 0;
    // Puts back, on every device this object has set, the volume it held before
    // the first set; false when some device could not be reached.
    virtual bool RestoreVolume() = 0;
    // What RestoreVolume would put back, for another player to take over.
    virtual std::vector<FoundVolume> FoundVolumes() const = 0;
    // RestoreVolume puts these back in place of what it found on the same
    // devices, and on the devices named here that it never set. Entries the
    // backend cannot use are ignored.
    virtual void AdoptFoundVolumes(const std::vector<FoundVolume>& found) = 0;
};

// Packs two channel values the way the device takes them.
constexpr std::uint32_t PackVolume(std::uint32_t left, std::uint32_t right) {
    return (right & 0xFFFF) << 16 | (left & 0xFFFF);
}
constexpr std::uint32_t LeftOf(std::uint32_t volume) {
    return volume & 0xFFFF;
}
constexpr std::uint32_t RightOf(std::uint32_t volume) {
    return volume >> 16;
}
