#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the event loop, so that the
// program ends through its ordinary close path instead of dying where it stands.
// One instance at a time; the default handlers come back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void Drain();

    std::function<void()> onSignal_;
    int readEnd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

// Closes whatever modal boxes are open: each runs a loop of its own, and the
// program would not end while one is.
void CloseModalBoxes();

// Closes whatever modal box is open, then the main window, as the Quit command
// would once the boxes were answered.
void CloseMainWindowForSignal();
