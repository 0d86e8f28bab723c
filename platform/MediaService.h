// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The media control service: the narrow, command-shaped interface the media
// device layer talks to. Each call returns 0 on success or an error code whose
// text ErrorText gives. One backend plays real files (libmpv), another simulates
// files that tests describe.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QWidget;

using MediaDeviceId = std::uint16_t;
using MediaError = std::uint32_t;

// Mode codes as the service reports them; the device layer subtracts NotReady.
namespace MediaServiceMode {
constexpr int NotReady = 524;
constexpr int Stopped = 525;
constexpr int Playing = 526;
constexpr int Recording = 527;
constexpr int Seeking = 528;
constexpr int Paused = 529;
constexpr int Open = 530;
} // namespace MediaServiceMode

enum class MediaStatusItem { Length, Position, Mode };

// How a command sent with a completion notice finished.
enum class MediaNotify { Successful = 1, Superseded = 2, Aborted = 4, Failure = 8 };

constexpr int kTimeFormatMilliseconds = 0;

struct MediaRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const MediaRect&) const = default;
};

class MediaService {
public:
    virtual ~MediaService() = default;

    // The window pictures will be drawn in. A backend may prepare its drawing
    // surface there now: some surfaces must exist before the window is shown.
    virtual void PrepareDisplayWindow(QWidget* window) = 0;

    // Begins opening a media file by its absolute path and returns at once. The
    // open ends, on the window's thread, with one call of done: None and the
    // device, stopped at 0 with its picture size known; or an error code. A
    // backend that knows at once may end it before Open returns.
    using OpenDone = std::function<void(MediaError result, MediaDeviceId device)>;
    virtual void Open(const QByteArray& path, OpenDone done) = 0;
    // Gives up the open under way, if any: its done is never called.
    virtual void AbandonOpen() = 0;
    virtual MediaError Close(MediaDeviceId device) = 0;
    // Plays from the current point or from a start point, returning at once; the
    // notice follows when playback reaches the end, or is superseded or aborted.
    virtual MediaError Play(MediaDeviceId device, std::optional<int> from) = 0;
    virtual MediaError SeekToStart(MediaDeviceId device) = 0;
    virtual MediaError Stop(MediaDeviceId device) = 0;
    virtual MediaError Pause(MediaDeviceId device) = 0;
    virtual MediaError Resume(MediaDeviceId device) = 0;
    // Answers from what the backend already knows: a status costs no engine round trip.
    virtual MediaError Status(MediaDeviceId device, MediaStatusItem item, int* value) = 0;
    virtual MediaError HasVideo(MediaDeviceId device, bool* hasVideo) = 0;
    virtual MediaError SetTimeFormat(MediaDeviceId device, int format) = 0;
    // Draws the picture in this window (nullptr: nowhere).
    virtual MediaError SetDisplayWindow(MediaDeviceId device, QWidget* window) = 0;
    // The rectangle of the display window the picture is stretched into; right and
    // bottom both 0 mean the picture's own size at (left, top).
    virtual MediaError PutDestination(MediaDeviceId device, const MediaRect& rect) = 0;
    virtual MediaError WhereDestination(MediaDeviceId device, MediaRect* rect) = 0;
    // The picture's own size.
    virtual MediaError WhereSource(MediaDeviceId device, MediaRect* rect) = 0;
    // The text of an error code, or an empty text when the service has none.
    virtual QString ErrorText(MediaError error) = 0;
    virtual void SetNotifyHandler(std::function<void(MediaDeviceId, MediaNotify)> handler) = 0;
};

// Error codes shared by the backends.
namespace MediaErrors {
constexpr MediaError None = 0;
constexpr MediaError InvalidDevice = 257;
constexpr MediaError CannotOpen = 263;  // the text says why
constexpr MediaError Unsupported = 274; // a command the device does not do
constexpr MediaError NoPicture = 346;   // a picture command on a file without one
} // namespace MediaErrors
