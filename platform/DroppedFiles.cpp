// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/DroppedFiles.h"

#include <QMimeData>
#include <QUrl>

DroppedFiles DroppedFiles::FromMimeData(const QMimeData& data) {
    std::vector<QByteArray> paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile())
            continue;
        // Decoding the percent-encoded path by hand keeps bytes that are not UTF-8.
        const QByteArray path =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!path.isEmpty())
            paths.push_back(path);
    }
    return DroppedFiles(std::move(paths));
}
