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
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>

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

void SortSubfolders(std::vector<QByteArray>& subfolders) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(subfolders.begin(), subfolders.end(), [&](const QByteArray& a, const QByteArray& b) {
        const int order = collator.compare(DisplayName(a), DisplayName(b));
        return order != 0 ? order < 0 : a < b;
    });
}

} // namespace

// What one read of a folder found for both lists.
struct TDirectoryListBox::FolderRead {
    QByteArray Asked;
    QByteArray Folder;
    int Error = 0;
    bool DistinguishesCase = true;
    // Read when the list had its file list; setting one starts a read of its own.
    FileListContents Files;
    std::vector<QByteArray> Subfolders; // sorted
};

TDirectoryListBox::TDirectoryListBox(const QString& name, QWidget* parent) : QListWidget(parent) {
    setObjectName(name);
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setIconSize(QSize(14, 14));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(&reads_, &BackgroundWork::SlowChanged, this, &TDirectoryListBox::ShowSlow);
    directory_ = CurrentDirectory();
    BuildEntries({});
    // A list given its file list at once reads the folder once, for both.
    QTimer::singleShot(0, this, [this] {
        if (!fileList_)
            RunGuarded(
                [this] { Enter([shown = directory_] { return AsWalked(shown); }, Change::Start); });
    });
}

void TDirectoryListBox::SetFileList(TFileListBox* fileList) {
    fileList_ = fileList;
    if (fileList_)
        Enter([shown = directory_] { return AsWalked(shown); }, Change::Start);
}

bool TDirectoryListBox::IsShownText(const QByteArray& value) const {
    return distinguishesCase_
               ? value == directory_
               : DisplayName(value).compare(DisplayName(directory_), Qt::CaseInsensitive) == 0;
}

void TDirectoryListBox::SetDirectory(const QByteArray& value) {
    if (value.isEmpty() || IsShownText(value))
        return;
    // A relative value is taken against the shown folder.
    const QByteArray target =
        AbsolutePath(value.startsWith('/') ? value : directory_ + '/' + value);
    if (driveCombo_)
        driveCombo_->SelectVolumeOf(target);
    Enter([target] { return target; }, Change::Asked);
}

void TDirectoryListBox::SetDirectoryLocated(std::function<QByteArray()> locate) {
    Enter(std::move(locate), Change::Located);
}

void TDirectoryListBox::ShowVolume(const QByteArray& mountPoint, bool keepShown) {
    Enter(
        [remembered = VolumeFolders::FolderOf(mountPoint), mountPoint, keepShown,
         shown = directory_] {
            if (keepShown && CheckFolder(shown) == 0)
                return shown;
            // A remembered folder that has gone since falls back to the volume's root.
            if (remembered != mountPoint && CheckFolder(remembered) != 0)
                return mountPoint;
            return remembered;
        },
        Change::Located);
}

void TDirectoryListBox::Enter(Locator locate, Change change) {
    const bool listFiles = fileList_ != nullptr;
    const QString mask = listFiles ? fileList_->Mask() : QString();
    const int fileType = listFiles ? fileList_->FileType() : 0;
    reads_.Start([this, locate = std::move(locate), change, listFiles, mask,
                  fileType]() -> BackgroundWork::Delivery {
        auto reading = std::make_shared<FolderRead>();
        reading->Asked = locate();
        reading->Folder =
            reading->Asked.startsWith('/') ? AbsolutePath(reading->Asked) : reading->Asked;
        reading->Error = reading->Folder.startsWith('/') ? CheckFolder(reading->Folder) : ENOENT;
        if (reading->Error == 0) {
            reading->DistinguishesCase = FolderDistinguishesCase(reading->Folder);
            if (listFiles) {
                reading->Files = ListFiles(reading->Folder, mask, fileType, &reading->Subfolders);
            } else {
                VisitDirectory(
                    reading->Folder, nullptr, false,
                    [&](const char* name, std::size_t length, int attributes) {
                        if ((attributes & FileAttribute::Directory) &&
                            !(attributes & (FileAttribute::Hidden | FileAttribute::System)))
                            reading->Subfolders.emplace_back(name, static_cast<qsizetype>(length));
                    });
            }
            SortSubfolders(reading->Subfolders);
        }
        return [this, reading, change] {
            Show(*reading, change);
        };
    });
}

void TDirectoryListBox::Show(FolderRead& reading, Change change) {
    if (change == Change::Located && (reading.Asked.isEmpty() || IsShownText(reading.Asked))) {
        ListShownIfNeverListed();
        return;
    }
    if (change != Change::Asked && driveCombo_)
        driveCombo_->SelectVolumeOf(reading.Folder);
    if (reading.Error != 0) {
        // The highlight goes back to the folder still shown.
        setCurrentRow(currentFolderRow_);
        ListShownIfNeverListed();
        throw EInOutError::FromErrno(reading.Error);
    }
    SetCurrentDirectory(reading.Folder);
    directory_ = reading.Folder;
    listed_ = true;
    distinguishesCase_ = reading.DistinguishesCase;
    const std::vector<Volume> volumes = driveCombo_ ? driveCombo_->Volumes() : ListVolumes();
    if (const int holder = VolumeHolding(volumes, directory_); holder >= 0)
        VolumeFolders::Remember(volumes[holder].MountPoint, directory_);
    // A file list on this folder already, spelled otherwise, is not read again.
    if (fileList_ && !(fileList_->EverRead() &&
                       SameFolderName(directory_, fileList_->Directory(), distinguishesCase_)))
        fileList_->ShowListing(directory_, std::move(reading.Files), distinguishesCase_);
    BuildEntries(reading.Subfolders);
    if (change != Change::Start)
        Q_EMIT OnChange();
}

void TDirectoryListBox::AbandonRead() {
    if (!reads_.Busy())
        return;
    reads_.Supersede();
    setCurrentRow(currentFolderRow_);
    if (driveCombo_)
        driveCombo_->SelectVolumeOf(directory_);
}

void TDirectoryListBox::ListShownIfNeverListed() {
    // A read that superseded the shown folder's first one and showed nothing.
    if (!listed_)
        Enter([shown = directory_] { return AsWalked(shown); }, Change::Start);
}

void TDirectoryListBox::ShowSlow(bool slow) {
    for (QWidget* list : {static_cast<QWidget*>(this), static_cast<QWidget*>(fileList_.data()),
                          static_cast<QWidget*>(driveCombo_.data())}) {
        if (!list)
            continue;
        if (slow)
            list->setCursor(Qt::BusyCursor);
        else
            list->unsetCursor();
    }
}

void TDirectoryListBox::BuildEntries(const std::vector<QByteArray>& sortedSubfolders) {
    clear();
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
        AddEntry(DisplayName(components[i]), path,
                 i + 1 == components.size() ? EntryKind::Current : EntryKind::Path, level);
    }
    currentFolderRow_ = count() - 1;
    const QByteArray base = directory_ == "/" ? directory_ : directory_ + '/';
    for (const QByteArray& name : sortedSubfolders)
        AddEntry(DisplayName(name), base + name, EntryKind::Subfolder, level + 1);
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
