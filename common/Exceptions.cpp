// SPDX-License-Identifier: GPL-3.0-or-later

#include "common/Exceptions.h"

#include <cerrno>

QString EInOutError::TextOfCode(int errorCode) {
    switch (errorCode) {
    case 2:
        return QStringLiteral("ファイルが見つかりません");
    case 3:
        return QStringLiteral("不正なファイル名です");
    case 4:
        return QStringLiteral("オープンしたファイルが多すぎます");
    case 5:
        return QStringLiteral("ファイルへのアクセスが拒否されました");
    case 100:
        return QStringLiteral("ファイルの末尾以降を読み込みました");
    case 101:
        return QStringLiteral("ディスクがいっぱいです");
    case 106:
        return QStringLiteral("入力値が数値ではありません");
    default:
        return QStringLiteral("I/O エラー (%1)").arg(errorCode);
    }
}

EInOutError EInOutError::FromErrno(int errnoValue) {
    int code = 0;
    switch (errnoValue) {
    case ENOENT:
        code = 2;
        break;
    case ENOTDIR:
        code = 3;
        break;
    case EMFILE:
    case ENFILE:
        code = 4;
        break;
    case EACCES:
    case EPERM:
        code = 5;
        break;
    case ENOSPC:
        code = 101;
        break;
    default:
        // Linux numbers its errors differently: errno 100 is not "read past end".
        return EInOutError(errnoValue, QStringLiteral("I/O エラー (%1)").arg(errnoValue));
    }
    return EInOutError(code, TextOfCode(code));
}
