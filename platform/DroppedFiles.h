// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

#include <vector>

class QMimeData;

// Items dropped on a window from the desktop shell: the local ones, in the order
// the shell gave them, as the file system's bytes.
class DroppedFiles {
public:
    explicit DroppedFiles(std::vector<QByteArray> paths) : paths_(std::move(paths)) {}
    // Local files and folders only; other URLs are not for a local player.
    static DroppedFiles FromMimeData(const QMimeData& data);

    int Count() const { return static_cast<int>(paths_.size()); }
    QByteArray Path(int index) const { return paths_.at(static_cast<std::size_t>(index)); }

private:
    std::vector<QByteArray> paths_;
};
