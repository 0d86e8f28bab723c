#pragma once

// The main window as the desktop's services see it: its state for the media
// controls and the screen saver, and the window's own commands for theirs.
// A light timer keeps both up to date with whatever the window does.

#include "platform/PlayerControls.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <memory>

class MprisService;
class ScreenSaverInhibitor;
class TForm1;

class DesktopControls : public QObject, public PlayerControls {
    Q_OBJECT
public:
    static const QString kDesktopEntry;
    static constexpr int kUpdateIntervalMs = 100;

    DesktopControls(TForm1& form, QDBusConnection bus, QObject* parent = nullptr);
    ~DesktopControls() override;

    // Brings both services up to date now, as the timer does.
    void Update();
    MprisService& Mpris() { return *mpris_; }
    ScreenSaverInhibitor& ScreenSaver() { return *screenSaver_; }

    PlayerState State() const override;
    void Play() override;
    void Pause() override;
    void PlayPause() override;
    void Stop() override;
    void Next() override;
    void Previous() override;
    void SeekTo(qint64 positionUs) override;
    void SetLoop(LoopStatus loop) override;
    void SetVolume(double volume) override;
    void Quit() override;
    void Raise() override;

private:
    bool FileOpen() const;

    TForm1& form_;
    std::unique_ptr<MprisService> mpris_;
    std::unique_ptr<ScreenSaverInhibitor> screenSaver_;
    QTimer updates_;
};
