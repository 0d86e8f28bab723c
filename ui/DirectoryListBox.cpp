// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/DirectoryListBox.h"

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Volumes.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"

#include <QCollator>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kKindRole = Qt::UserRole + 2;
constexpr int kLevelRole = Qt::UserRole + 3;

// Indents each entry by its level.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented(option);
        indented.rect.adjust(index.data(kLevelRole).toInt() * TDirectoryListBox::IndentPerLevel, 0,
                             0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }
};

QString Decoded(const QByteArray& name) {
    return DisplayName(name);
}

} // namespace

TDirectoryListBox::TDirectoryListBox(const QString& name, QWidget* parent) : QListWidget(parent) {
    setObjectName(name);
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setIconSize(QSize(14, 14));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    directory_ = CurrentDirectory();
    BuildEntries();
}

void TDirectoryListBox::SetFileList(TFileListBox* fileList) {
    fileList_ = fileList;
    if (fileList_)
        fileList_->ApplyFilePath(directory_);
}

void TDirectoryListBox::SetDirectory(const QByteArray& value) {
    if (value.isEmpty())
        return;
    const bool sameText =
        FolderDistinguishesCase(directory_)
            ? value == directory_
            : Decoded(value).compare(Decoded(directory_), Qt::CaseInsensitive) == 0;
    if (sameText)
        return;
    // A relative value is taken against the shown folder.
    ChangeDirectory(directory_);
    const QByteArray target = AbsolutePath(value);
    if (driveCombo_)
        driveCombo_->SelectVolumeOf(target);
    EnterFolder(value);
}

void TDirectoryListBox::ShowVolume(const QByteArray& mountPoint) {
    const QByteArray remembered = VolumeFolders::FolderOf(mountPoint);
    ChangeDirectory(directory_);
    // A remembered folder that has gone since falls back to the volume's root.
    if (remembered != mountPoint && ChangeDirectory(remembered) != 0) {
        EnterFolder(mountPoint);
        return;
    }
    EnterFolder(remembered);
}

void TDirectoryListBox::EnterFolder(const QByteArray& target) {
    if (const int error = ChangeDirectory(target)) {
        ChangeDirectory(directory_);
        // The highlight goes back to the folder still shown.
        setCurrentRow(currentFolderRow_);
        throw EInOutError::FromErrno(error);
    }
    directory_ = CurrentDirectory();
    const std::vector<Volume> volumes = driveCombo_ ? driveCombo_->Volumes() : ListVolumes();
    if (const int holder = VolumeHolding(volumes, directory_); holder >= 0)
        VolumeFolders::Remember(volumes[holder].MountPoint, directory_);
    // One read of the folder serves both lists.
    std::vector<QByteArray> subfolders;
    bool read = false;
    try {
        if (fileList_)
            read = fileList_->ApplyFilePath(directory_, &subfolders);
    } catch (...) {
        BuildEntries();
        throw;
    }
    BuildEntries(read ? &subfolders : nullptr);
    Q_EMIT OnChange();
}

void TDirectoryListBox::BuildEntries(const std::vector<QByteArray>* given) {
    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QList<QByteArray> parts = directory_.split('/');
    QByteArray path = "/";
    AddEntry(QStringLiteral("/"), path, directory_ == "/" ? EntryKind::Current : EntryKind::Path,
             0);
    int level = 0;
    QList<QByteArray> components;
    for (const QByteArray& part : parts)
        if (!part.isEmpty())
            components.append(part);
    for (qsizetype i = 0; i < components.size(); ++i) {
        path = (path == "/" ? path : path + '/') + components[i];
        ++level;
        AddEntry(Decoded(components[i]), path,
                 i + 1 == components.size() ? EntryKind::Current : EntryKind::Path, level);
    }
    currentFolderRow_ = count() - 1;

    std::vector<QByteArray> subfolders;
    if (given) {
        subfolders = *given;
    } else {
        VisitDirectory(directory_, nullptr, false,
                       [&](const char* name, std::size_t length, int attributes) {
                           if ((attributes & FileAttribute::Directory) &&
                               !(attributes & (FileAttribute::Hidden | FileAttribute::System)))
                               subfolders.emplace_back(name, static_cast<qsizetype>(length));
                       });
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(subfolders.begin(), subfolders.end(), [&](const QByteArray& a, const QByteArray& b) {
        const int order = collator.compare(Decoded(a), Decoded(b));
        return order != 0 ? order < 0 : a < b;
    });
    const QByteArray base = directory_ == "/" ? directory_ : directory_ + '/';
    for (const QByteArray& name : subfolders)
        AddEntry(Decoded(name), base + name, EntryKind::Subfolder, level + 1);
    setCurrentRow(currentFolderRow_);
    // The current folder at the top, so that as many subfolders as fit show below it.
    scrollToItem(item(currentFolderRow_), QAbstractItemView::PositionAtTop);
}

void TDirectoryListBox::AddEntry(const QString& text, const QByteArray& path, EntryKind kind,
                                 int level) {
    auto* item = new QListWidgetItem(text, this);
    item->setIcon(style()->standardIcon(kind == EntryKind::Subfolder ? QStyle::SP_DirClosedIcon
                                                                     : QStyle::SP_DirOpenIcon));
    item->setData(kPathRole, path);
    item->setData(kKindRole, static_cast<int>(kind));
    item->setData(kLevelRole, level);
    item->setSizeHint(QSize(0, RowHeight));
}

QByteArray TDirectoryListBox::EntryPath(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(kPathRole).toByteArray() : QByteArray();
}

TDirectoryListBox::EntryKind TDirectoryListBox::EntryKindOf(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry ? static_cast<EntryKind>(entry->data(kKindRole).toInt()) : EntryKind::Path;
}

int TDirectoryListBox::EntryLevel(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(kLevelRole).toInt() : 0;
}

void TDirectoryListBox::EnterEntry(int row) {
    if (row < 0 || row >= count())
        return;
    const QByteArray path = EntryPath(row);
    RunGuarded([&] { SetDirectory(path); });
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid())
            EnterEntry(index.row());
    }
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        EnterEntry(currentRow());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}
