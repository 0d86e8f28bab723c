// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/Application.h"

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "controls/DesktopControls.h"
#include "platform/FileSystem.h"
#include "platform/MprisService.h"
#include "platform/MpvMediaService.h"
#include "platform/SoundServer.h"
#include "shell/TerminationSignals.h"
#include "ui/Accessibility.h"
#include "ui/ImageList.h"
#include "ui/MainForm.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFont>
#include <QFontDatabase>
#include <QStyleFactory>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

const QString kWindowFontFamily = QStringLiteral("ＭＳ Ｐゴシック");

// The windows' fixed-width panels are measured for half-width glyphs of 0.5 em
// and rows of 12 pixels: VL Gothic has both at 12 px (IPAGothic's cells are 13
// high, the proportional P fonts have 0.63 em digits). Failing those, any
// installed Japanese font keeps the Japanese messages readable.
void SubstituteWindowFont() {
    QStringList substitutes = {QStringLiteral("VL Gothic"), QStringLiteral("VL ゴシック"),
                               QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック")};
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese))
        if (!substitutes.contains(family))
            substitutes.append(family);
    QFont::insertSubstitutions(kWindowFontFamily, substitutes);
}

} // namespace

void InitialiseApplication(QApplication& application) {
    Q_INIT_RESOURCE(icons);
    InstallAccessibility();
    // The media engine parses numbers with the C locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Qel"));
    // The Wayland app id: how the desktop matches the window to its launcher.
    QApplication::setDesktopFileName(QStringLiteral("org.qelplayer.Qel"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    SubstituteWindowFont();
    QFont font(kWindowFontFamily);
    font.setPixelSize(12);
    QApplication::setFont(font);
    application.setWindowIcon(ProgramIcon());
}

namespace {

// The exit's bound once the main loop has ended, and the restore's share of it:
// the engine is given 0.5 s at most, the other players on the bus 0.25 s.
constexpr std::chrono::milliseconds kExitBound(750);
constexpr std::chrono::milliseconds kRestoreBound(300);

// Both windows, from start-up to exit; the globals never outlive them.
class Windows {
public:
    Windows() {
        // One client of the sound server: the volume's, and the engine's check.
        auto sound = std::make_unique<SoundServer>(std::string(), kRestoreBound);
        auto media = std::make_unique<MpvMediaService>(sound.get());
        main_ = std::make_unique<TForm1>(std::move(media), std::move(sound));
        Form1 = main_.get();
        about_ = std::make_unique<TAboutBox>(main_.get());
        AboutBox = about_.get();
    }
    ~Windows() {
        desktop_.reset();
        AboutBox = nullptr;
        about_.reset();
        Form1 = nullptr;
        main_.reset();
    }
    TForm1& Main() { return *main_; }
    // The media controls and the screen saver, on the session bus if there is one.
    void ConnectDesktop() {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        desktop_ = std::make_unique<DesktopControls>(*main_, bus);
        // Known there by its media-control name, the player finds the others that run.
        QObject::connect(&desktop_->Mpris(), &MprisService::NameClaimed, main_.get(),
                         [this, bus](const QString& name) {
                             RunGuarded([&] { main_->ShareWaveVolume(bus, name); });
                         });
    }

private:
    std::unique_ptr<DesktopControls> desktop_;
    std::unique_ptr<TForm1> main_;
    std::unique_ptr<TAboutBox> about_;
};

} // namespace

int EnterStartFolder() {
    // The browser enters folders by their names: a name too long to enter
    // counts as no name.
    errno = 0;
    std::unique_ptr<char, decltype(&free)> start(getcwd(nullptr, 0), &free);
    // Told by its length, not by entering it: the start folder may be on a share
    // that does not answer, and only the browser's reading may wait for it.
    if (start && std::strlen(start.get()) < PATH_MAX) {
        CurrentDirectory();
        return 0;
    }
    const int error = start ? ENAMETOOLONG : errno != 0 ? errno : ENOENT;
    // Up by "..", which also leads out of a folder that has been removed and
    // needs no name, until the folder has one the browser can enter again.
    for (int step = 0; step < 4096 && chdir("..") == 0; ++step) {
        std::unique_ptr<char, decltype(&free)> here(getcwd(nullptr, 0), &free);
        if (here && chdir(here.get()) == 0) {
            ChangeDirectory(here.get());
            break;
        }
    }
    // The shown folder is a name; the process itself holds no volume busy.
    if (chdir("/") != 0) {
        // Nowhere to go: the browser reports what it finds.
    }
    return error;
}

int RunApplication(QApplication& application) {
    // A sound server that has gone must not end the program by a broken pipe.
    std::signal(SIGPIPE, SIG_IGN);
    // Should a termination signal find no loop to answer it (the window's thread
    // held), the program still ends, with the user's volume back.
    // A crash says its words without the session bus, which may be what failed.
    TerminationDeadline deadline(kExitBound, HandOverOrRestoreWaveVolumeAtExit,
                                 RestoreWaveVolumeAtExit);
    // A signal during a start-up box closes the box; the loop is then not entered.
    const TerminationSignals signals(CloseMainWindowForSignal);
    bool started = false;
    RunGuarded([&] {
        if (const int error = EnterStartFolder(); error != 0 && !TerminationRequested())
            ShowErrorReport(EInOutError::FromErrno(error).Message);
        if (TerminationRequested())
            return;
        // The device waits for the player's name on the bus (ConnectDesktop).
        HoldWaveVolumeUntilShared();
        Windows windows;
        started = true;
        if (TerminationRequested())
            return;
        windows.Main().show();
        // Reaching the bus takes round trips that would hold back the window's
        // first requests to the X server; the desktop asks nothing of a player
        // in its first tenth of a second.
        QTimer::singleShot(100, &windows.Main(),
                           [&windows] { RunGuarded([&windows] { windows.ConnectDesktop(); }); });
        if (!TerminationRequested())
            application.exec();
        // Whatever the closing windows wait on, the program ends within the grace.
        deadline.Arm();
    });
    // A start-up that failed is no success; one that a signal ended is.
    return started || TerminationRequested() ? 0 : 1;
}
