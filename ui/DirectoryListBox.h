// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QListWidget>
#include <QPointer>

#include <vector>

#include "common/ErrorReport.h"
#include "platform/BackgroundWork.h"
#include "ui/DriveComboBox.h"

#include <functional>

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
    // Shows another folder once it has been read in the background; a folder that
    // cannot be entered is reported as EInOutError then, and the lists keep the
    // folder they had. A newer change supersedes one still under way.
    void SetDirectory(const QByteArray& value);
    // The same for a folder that only a look at the file system can name: locate
    // runs in the background and gives the value.
    void SetDirectoryLocated(std::function<QByteArray()> locate);
    // Shows the folder last shown on a volume (its root at first); with
    // keepShown, a folder still shown there stays.
    void ShowVolume(const QByteArray& mountPoint, bool keepShown = false);
    // Whether a change of folder is under way.
    bool Reading() const { return reads_.Busy(); }
    // A change of folder under way is given up: the folder shown stays.
    void AbandonRead();

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
    struct FolderRead;
    // What a change of folder asks for; runs on the reading thread.
    using Locator = std::function<QByteArray()>;

    enum class Change {
        Start,  // the folder shown at start, read for the first time
        Asked,  // a value known at once, checked against the shown one already
        Located // a value known once locate has run: the same text changes nothing
    };

    bool IsShownText(const QByteArray& value) const;
    void Enter(Locator locate, Change change);
    void Show(FolderRead& reading, Change change);
    void ListShownIfNeverListed();
    void ShowSlow(bool slow);
    void BuildEntries(const std::vector<QByteArray>& sortedSubfolders);
    void AddEntry(const QString& text, const QByteArray& path, EntryKind kind, int level);
    void EnterEntry(int row);

    QByteArray directory_;
    bool distinguishesCase_ = true;
    bool listed_ = false; // a read has shown a folder
    BackgroundWork reads_{&RunGuarded};
    int currentFolderRow_ = 0;
    QPointer<TFileListBox> fileList_;
    QPointer<TDriveComboBox> driveCombo_;
};
