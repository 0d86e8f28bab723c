// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <cstdint>
#include <functional>

enum class MessageIcon { Error, Information };

struct MessageRequest {
    QString Text;
    QString Caption;
    MessageIcon Icon = MessageIcon::Error;
};

// Every message box of the player goes through here, so tests can answer it
// without a modal loop. The hook returns the button's result (1 for OK).
using MessageBoxHook = std::function<int(const MessageRequest&)>;
void SetMessageBoxHook(MessageBoxHook hook);
int ShowMessageBox(const MessageRequest& request);

// Every modal box counts itself, so that input that waited from before one can
// be told from input given after it.
void CountModalBox();
std::uint64_t ModalBoxesShown();

// The application's title, the caption of its message boxes.
QString ApplicationTitle();

// The standard error report's text: the message with a period appended when
// its last character sorts after the period.
QString ErrorReportText(const QString& message);

// Shows the standard error report for an error text.
void ShowErrorReport(const QString& message);

// Runs one event handler. No exception leaves it: an Exception is reported with
// its text, anything else with an empty text, and the program goes on.
void RunGuarded(const std::function<void()>& handler) noexcept;

// Closes whatever modal boxes are open: each runs a loop of its own, and the
// program would not end while one is.
void CloseModalBoxes();
