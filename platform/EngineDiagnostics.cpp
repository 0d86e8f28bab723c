// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/EngineDiagnostics.h"

#include <cstdio>
#include <cstdlib>

EngineDiagnostics& EngineDiagnostics::Instance() {
    static EngineDiagnostics diagnostics;
    return diagnostics;
}

EngineDiagnostics::EngineDiagnostics() {
    const char* value = std::getenv("QEL_DIAGNOSTICS");
    enabled_ = value != nullptr && *value != '\0' && QByteArray(value) != "0";
}

void EngineDiagnostics::Print(const QByteArray& line) const {
    // Unbuffered and whole, so that a driver reading the pipe sees it at once.
    const QByteArray text = "qel-diagnostics: " + line + '\n';
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
}

void EngineDiagnostics::OpenStarted() {
    if (!enabled_)
        return;
    ++opens_;
    sinceOpen_.start();
    awaitingFirstFrame_ = true;
    Print("open");
}

void EngineDiagnostics::OpenStep(const char* name) {
    if (enabled_ && awaitingFirstFrame_)
        Print(QByteArray(name) + " ms=" + QByteArray::number(sinceOpen_.elapsed()));
}

void EngineDiagnostics::PlayStarted(double position) {
    if (!enabled_)
        return;
    sincePlay_.start();
    playFrom_ = position;
    awaitingMove_ = true;
}

void EngineDiagnostics::Position(double position) {
    // A frame's length past the start: the position has really moved.
    if (!enabled_ || !awaitingMove_ || position < playFrom_ + 0.05)
        return;
    awaitingMove_ = false;
    lastPlayToMovingMs_ = sincePlay_.elapsed();
    Print("moving ms=" + QByteArray::number(lastPlayToMovingMs_));
}

void EngineDiagnostics::FrameDrawn(bool newFrame) {
    if (newFrame)
        ++framesDrawn_;
    if (!enabled_ || !awaitingFirstFrame_)
        return;
    awaitingFirstFrame_ = false;
    lastOpenToFirstFrameMs_ = sinceOpen_.elapsed();
    Print("first-frame ms=" + QByteArray::number(lastOpenToFirstFrameMs_));
}

void EngineDiagnostics::EndOfFile(std::int64_t dropped, std::int64_t decoderDropped) {
    if (!enabled_)
        return;
    Print("end-of-file dropped=" + QByteArray::number(dropped) + " decoder-dropped=" +
          QByteArray::number(decoderDropped) + " frames=" + QByteArray::number(framesDrawn_));
}

void EngineDiagnostics::Exit(std::int64_t dropped, std::int64_t decoderDropped) {
    if (!enabled_)
        return;
    Print("exit opens=" + QByteArray::number(opens_) + " frames=" +
          QByteArray::number(framesDrawn_) + " dropped=" + QByteArray::number(dropped) +
          " decoder-dropped=" + QByteArray::number(decoderDropped) +
          " last-open-to-first-frame-ms=" + QByteArray::number(lastOpenToFirstFrameMs_) +
          " last-play-to-moving-ms=" + QByteArray::number(lastPlayToMovingMs_));
}
