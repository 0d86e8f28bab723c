#include "shell/Application.h"

#include "controls/DesktopControls.h"
#include "platform/MpvMediaService.h"
#include "platform/PulseWaveOutVolume.h"
#include "shell/ErrorReport.h"
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

#include <clocale>
#include <csignal>
#include <memory>

namespace {

const QString kWindowFontFamily = QStringLiteral("ＭＳ Ｐゴシック");

// IPAPGothic has the metrics of the font the windows ask for; failing that, any
// installed Japanese font keeps the Japanese messages readable.
void SubstituteWindowFont() {
    QStringList substitutes = {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック")};
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

// Both windows, from start-up to exit; the globals never outlive them.
class Windows {
public:
    Windows()
        : main_(std::make_unique<TForm1>(std::make_unique<MpvMediaService>(),
                                         std::make_unique<PulseWaveOutVolume>())) {
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
        desktop_ = std::make_unique<DesktopControls>(*main_, QDBusConnection::sessionBus());
    }

private:
    std::unique_ptr<DesktopControls> desktop_;
    std::unique_ptr<TForm1> main_;
    std::unique_ptr<TAboutBox> about_;
};

} // namespace

int RunApplication(QApplication& application) {
    // A sound server that has gone must not end the program by a broken pipe.
    std::signal(SIGPIPE, SIG_IGN);
    RunGuarded([&] {
        Windows windows;
        const TerminationSignals signals(CloseMainWindowForSignal);
        windows.Main().show();
        // Reaching the bus takes round trips that would hold back the window's
        // first requests to the X server; the desktop asks nothing of a player
        // in its first tenth of a second.
        QTimer::singleShot(100, &windows.Main(), [&windows] { windows.ConnectDesktop(); });
        application.exec();
    });
    return 0;
}
