// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include <cstdint>

// The engine's own counters, printed on standard error when QEL_DIAGNOSTICS is
// set: one line per event as it happens ("qel-diagnostics: first-frame ms=42"),
// and the totals at exit. Off, it costs a flag test.
class EngineDiagnostics {
public:
    static EngineDiagnostics& Instance();

    bool Enabled() const { return enabled_; }
    // Video frames drawn since the start, counted whether or not printing is on.
    std::int64_t FramesDrawn() const { return framesDrawn_; }

    void OpenStarted();
    // A step of an open, with the time since it started ("loaded ms=12").
    void OpenStep(const char* name);
    // Play was asked for at this position (seconds); the first position past it
    // is printed with the time since ("moving ms=40"): a first frame can be on
    // the screen long before playback really moves.
    void PlayStarted(double position);
    void Position(double position);
    // A video frame has been drawn on the window: a new one, or the first one
    // again, taken before the area showed pictures.
    void FrameDrawn(bool newFrame);
    // dropped: frames the video output skipped; decoderDropped: the decoder's.
    void EndOfFile(std::int64_t dropped, std::int64_t decoderDropped);
    void Exit(std::int64_t dropped, std::int64_t decoderDropped);

private:
    EngineDiagnostics();
    void Print(const QByteArray& line) const;

    bool enabled_ = false;
    QElapsedTimer sinceOpen_;
    bool awaitingFirstFrame_ = false;
    std::int64_t framesDrawn_ = 0;
    std::int64_t opens_ = 0;
    std::int64_t lastOpenToFirstFrameMs_ = -1;
    QElapsedTimer sincePlay_;
    double playFrom_ = 0;
    bool awaitingMove_ = false;
    std::int64_t lastPlayToMovingMs_ = -1;
};
