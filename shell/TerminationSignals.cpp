#include "shell/TerminationSignals.h"

#include "ui/MainForm.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile std::sig_atomic_t writeEnd = -1;

void OnSignal(int number) {
    // Only what is safe in a signal handler: one byte down the pipe.
    const int saved = errno;
    const char byte = static_cast<char>(number);
    if (writeEnd >= 0 && ::write(writeEnd, &byte, 1) < 0) {
        // A full pipe already holds a byte: the close is on its way.
    }
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default: the program still ends
    readEnd_ = ends[0];
    writeEnd = ends[1];
    notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Drain);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (int number : kSignals)
        std::signal(number, SIG_DFL);
    if (readEnd_ >= 0) {
        const int write = writeEnd;
        writeEnd = -1;
        ::close(write);
        ::close(readEnd_);
    }
}

void TerminationSignals::Drain() {
    char bytes[16];
    while (::read(readEnd_, bytes, sizeof bytes) > 0) {
    }
    if (onSignal_)
        onSignal_();
}

void CloseModalBoxes() {
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(QDialog::Rejected);
        else
            modal->close();
    }
}

void CloseMainWindowForSignal() {
    CloseModalBoxes();
    if (Form1 != nullptr)
        Form1->close();
}
