// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The player's errors. Handlers raise them; the guard around every event handler
// hands them to the standard error report.
class Exception {
public:
    explicit Exception(QString message) : Message(std::move(message)) {}
    virtual ~Exception() = default;

    QString Message;
};

// A folder or drive that cannot be made current. ErrorCode uses the player's
// codes: 2 not found, 3 not a folder, 4 too many open files, 5 access denied, ...
class EInOutError : public Exception {
public:
    EInOutError(int errorCode, QString message)
        : Exception(std::move(message)), ErrorCode(errorCode) {}

    // The text the player shows for one of its own codes.
    static QString TextOfCode(int errorCode);
    // Maps an errno value to the player's code and text; errno values without a
    // code of their own are reported as "I/O エラー (errno)".
    static EInOutError FromErrno(int errnoValue);

    int ErrorCode;
};

// A media device operation that failed: an open the service refused (with its
// reason), or an operation that needs an open device when none is open.
class EMCIDeviceError : public Exception {
public:
    using Exception::Exception;
};
