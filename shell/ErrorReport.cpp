#include "shell/ErrorReport.h"

#include "shell/Exceptions.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

int ShowQtMessageBox(const MessageRequest& request) {
    QMessageBox box(request.Icon == MessageIcon::Error ? QMessageBox::Critical
                                                       : QMessageBox::Information,
                    request.Caption, request.Text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return 1;
}

MessageBoxHook& Hook() {
    static MessageBoxHook hook = ShowQtMessageBox;
    return hook;
}

} // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = hook ? std::move(hook) : MessageBoxHook(ShowQtMessageBox);
}

int ShowMessageBox(const MessageRequest& request) {
    return Hook()(request);
}

QString ApplicationTitle() {
    QString title = QApplication::applicationName();
    return title.isEmpty() ? QStringLiteral("Qel") : title;
}

QString ErrorReportText(const QString& message) {
    if (message.isEmpty())
        return message;
    const char32_t last = message.toStdU32String().back();
    return last > U'.' ? message + QLatin1Char('.') : message;
}

void ShowErrorReport(const QString& message) {
    ShowMessageBox({ErrorReportText(message), ApplicationTitle(), MessageIcon::Error});
}

void RunGuarded(const std::function<void()>& handler) noexcept {
    // The report itself must not throw back into Qt either.
    try {
        try {
            handler();
        } catch (const Exception& error) {
            ShowErrorReport(error.Message);
        } catch (...) {
            ShowErrorReport(QString());
        }
    } catch (...) {
        std::fputs("qel: the error report failed\n", stderr);
    }
}
