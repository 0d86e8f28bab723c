// SPDX-License-Identifier: GPL-3.0-or-later

#include "common/ErrorReport.h"

#include "common/Exceptions.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QStringList>

#include <cstdio>

namespace {

int ShowQtMessageBox(const MessageRequest& request) {
    // A word too long for a line (a path) gets places to break.
    QString text;
    qsizetype word = 0;
    for (const QChar c : request.Text) {
        word = c.isSpace() ? 0 : word + 1;
        if (word > 40) {
            text += QChar(0x200B);
            word = 1;
        }
        text += c;
    }
    QMessageBox box(request.Icon == MessageIcon::Error ? QMessageBox::Critical
                                                       : QMessageBox::Information,
                    request.Caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return 1;
}

std::uint64_t modalBoxes = 0;

MessageBoxHook& Hook() {
    static MessageBoxHook hook = ShowQtMessageBox;
    return hook;
}

} // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    Hook() = hook ? std::move(hook) : MessageBoxHook(ShowQtMessageBox);
}

void CountModalBox() {
    ++modalBoxes;
}

std::uint64_t ModalBoxesShown() {
    return modalBoxes;
}

int ShowMessageBox(const MessageRequest& request) {
    CountModalBox();
    // Every box fits the screen with its button on it: a few distinct lines, each
    // cut short.
    constexpr int kLines = 6;
    constexpr qsizetype kLineLength = 200;
    QStringList lines;
    for (QString line : request.Text.split(QLatin1Char('\n'))) {
        if (line.size() > kLineLength)
            line = line.left(kLineLength - 1) + QChar(0x2026);
        if (!lines.contains(line))
            lines << line;
        if (lines.size() == kLines)
            break;
    }
    MessageRequest fitted = request;
    fitted.Text = lines.join(QLatin1Char('\n'));
    return Hook()(fitted);
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
