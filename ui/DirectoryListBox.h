// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QListWidget>
#include <QPointer>

#include <vector>

#include "ui/DriveComboBox.h"

class TFileListBox;

// The folder list: the folders on the way from "/" down to the shown folder,
// then its subfolders. The process's current folder follows the shown one.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    static constexpr int RowHeight = 16;
    static constexpr int IndentPerLevel = 4;

    enum class EntryKind { Path, Current, Subfolder };

    TDirectoryListBox(const QString& name, QWidget* parent);

    QByteArray Directory() const { return directory_; }
    // Shows another folder; raises EInOutError when it cannot be entered, and then
    // keeps the folder it had.
    void SetDirectory(const QByteArray& value);
    // Shows the folder last shown on a volume (its root at first).
    void ShowVolume(const QByteArray& mountPoint);

    void SetFileList(TFileListBox* fileList);
    void SetDriveCombo(TDriveComboBox* driveCombo) { driveCombo_ = driveCombo; }

    // The folder an entry stands for, and its kind and level.
    QByteArray EntryPath(int row) const;
    EntryKind EntryKindOf(int row) const;
    int EntryLevel(int row) const;

Q_SIGNALS:
    void OnChange();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void EnterFolder(const QByteArray& target);
    // Reads the subfolders itself unless they are given.
    void BuildEntries(const std::vector<QByteArray>* subfolders = nullptr);
    void AddEntry(const QString& text, const QByteArray& path, EntryKind kind, int level);
    void EnterEntry(int row);

    QByteArray directory_;
    int currentFolderRow_ = 0;
    QPointer<TFileListBox> fileList_;
    QPointer<TDriveComboBox> driveCombo_;
};
