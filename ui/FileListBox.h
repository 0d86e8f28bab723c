// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "common/ErrorReport.h"
#include "platform/BackgroundWork.h"
#include "ui/FileListContents.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QListView>
#include <QString>

#include <vector>

// Which entries the file list shows.
namespace TFileType {
constexpr int ftReadOnly = 0x01;
constexpr int ftHidden = 0x02;
constexpr int ftSystem = 0x04;
constexpr int ftVolumeID = 0x08;
constexpr int ftDirectory = 0x10;
constexpr int ftArchive = 0x20;
constexpr int ftNormal = 0x40;
} // namespace TFileType

class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const FileListContents& Contents() const { return contents_; }
    void Replace(FileListContents contents);

private:
    FileListContents contents_;
};

// The files of a folder as a list with this mask and type shows them, sorted.
// With subfolders, the same read also collects the folder's visible subfolders,
// unsorted. It may wait on the file system, and may run on any thread.
FileListContents ListFiles(const QByteArray& folder, const QString& mask, int fileType,
                           std::vector<QByteArray>* subfolders = nullptr);

// The file list: the files of one folder that match the mask, sorted without
// regard to case, with extended multiple selection.
class TFileListBox : public QListView {
    Q_OBJECT
public:
    static constexpr int RowHeight = 12;

    TFileListBox(const QString& name, QWidget* parent);

    QString Mask() const { return mask_; }
    void SetMask(const QString& mask);
    int FileType() const { return fileType_; }
    void SetFileType(int fileType);

    // The listed folder, as the file system's bytes.
    QByteArray Directory() const { return directory_; }
    // Moves the list to a folder (relative names are taken against the listed one)
    // and reads it in the background; a folder that cannot be entered is reported
    // as EInOutError when the read ends. Nothing happens when it is there already.
    void ApplyFilePath(const QByteArray& folder);
    // Reads the process's current folder into the list, in the background.
    void ReadFileNames();
    // Shows what a read of folder found, in place of any read of its own.
    void ShowListing(const QByteArray& folder, FileListContents contents, bool distinguishesCase);
    bool EverRead() const { return everRead_; }

    int Count() const { return model_.Contents().Count(); }
    QString ItemText(int index) const;
    QByteArray ItemName(int index) const;
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;

Q_SIGNALS:
    void OnClick();
    void OnDblClick();
    void OnMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                     Qt::KeyboardModifiers modifiers, int x, int y);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    FileListModel model_;
    QString mask_ = QStringLiteral("*.*");
    int fileType_ = TFileType::ftNormal;
    QByteArray directory_;
    bool distinguishesCase_ = true;
    BackgroundWork reads_{&RunGuarded};
    bool selectingByProgram_ = false;
    bool inDoubleClick_ = false;
    // Until the list is first moved to a folder, setting its mask or type reads nothing.
    bool everRead_ = false;
};
