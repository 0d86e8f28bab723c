// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/FileListBox.h"

#include "common/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Volumes.h"
#include "platform/WildcardMask.h"

#include <QMouseEvent>

#include <fcntl.h>
#include <unistd.h>

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : contents_.Count();
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return contents_.Text(index.row());
    case Qt::SizeHintRole:
        return QSize(0, TFileListBox::RowHeight);
    default:
        return {};
    }
}

void FileListModel::Replace(FileListContents contents) {
    beginResetModel();
    contents_ = std::move(contents);
    endResetModel();
}

TFileListBox::TFileListBox(const QString& name, QWidget* parent) : QListView(parent) {
    setObjectName(name);
    setModel(&model_);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!selectingByProgram_)
            Q_EMIT OnClick();
    });
    connect(&reads_, &BackgroundWork::SlowChanged, this,
            [this](bool slow) { slow ? setCursor(Qt::BusyCursor) : unsetCursor(); });
    directory_ = CurrentDirectory();
}

void TFileListBox::SetMask(const QString& mask) {
    if (mask == mask_)
        return;
    mask_ = mask;
    if (everRead_)
        ReadFileNames();
}

void TFileListBox::SetFileType(int fileType) {
    if (fileType == fileType_)
        return;
    fileType_ = fileType;
    if (everRead_)
        ReadFileNames();
}

void TFileListBox::ApplyFilePath(const QByteArray& folder) {
    const QByteArray target =
        AbsolutePath(folder.startsWith('/') ? folder : directory_ + '/' + folder);
    if (everRead_ && SameFolderName(target, directory_, distinguishesCase_))
        return;
    reads_.Start([this, target, mask = mask_, fileType = fileType_]() -> BackgroundWork::Delivery {
        if (const int error = CheckFolder(target))
            return [error] {
                throw EInOutError::FromErrno(error);
            };
        auto contents = std::make_shared<FileListContents>(ListFiles(target, mask, fileType));
        const bool distinguishesCase = FolderDistinguishesCase(target);
        return [this, target, contents, distinguishesCase] {
            SetCurrentDirectory(target);
            ShowListing(target, std::move(*contents), distinguishesCase);
        };
    });
}

void TFileListBox::ReadFileNames() {
    reads_.Start([this, folder = CurrentDirectory(), mask = mask_,
                  fileType = fileType_]() -> BackgroundWork::Delivery {
        auto contents = std::make_shared<FileListContents>(ListFiles(folder, mask, fileType));
        const bool distinguishesCase = FolderDistinguishesCase(folder);
        return [this, folder, contents, distinguishesCase] {
            ShowListing(folder, std::move(*contents), distinguishesCase);
        };
    });
}

void TFileListBox::ShowListing(const QByteArray& folder, FileListContents contents,
                               bool distinguishesCase) {
    reads_.Supersede();
    directory_ = folder;
    distinguishesCase_ = distinguishesCase;
    everRead_ = true;
    selectingByProgram_ = true;
    model_.Replace(std::move(contents));
    selectingByProgram_ = false;
}

FileListContents ListFiles(const QByteArray& folder, const QString& maskText, int fileType,
                           std::vector<QByteArray>* subfolders) {
    using namespace TFileType;
    int searchAttributes = 0;
    for (int member : {ftReadOnly, ftHidden, ftSystem, ftVolumeID, ftDirectory, ftArchive})
        if (fileType & member)
            searchAttributes |= member;
    const int excludable = FileAttribute::Hidden | FileAttribute::System | FileAttribute::VolumeId |
                           FileAttribute::Directory;
    const bool listAll = (fileType & ftNormal) != 0;
    const bool wantReadOnly = !listAll && (searchAttributes & FileAttribute::ReadOnly);

    const WildcardMask mask(maskText);
    int matchCount = 0; // of the name the filter has just accepted
    FileListContents contents;
    // Collecting subfolders needs every entry's kind (from d_type, nearly free),
    // and the access check only for the names the mask accepts.
    VisitDirectory(
        folder,
        [&](const char* name, std::size_t length) {
            matchCount = mask.CountMatches(name, length);
            return matchCount > 0 || subfolders;
        },
        wantReadOnly && !subfolders,
        [&](const char* name, std::size_t length, int attributes) {
            if (subfolders && (attributes & FileAttribute::Directory) &&
                !(attributes & (FileAttribute::Hidden | FileAttribute::System)))
                subfolders->emplace_back(name, static_cast<qsizetype>(length));
            if (matchCount == 0)
                return;
            if (subfolders && wantReadOnly &&
                ::faccessat(AT_FDCWD,
                            (folder + '/' + QByteArray(name, qsizetype(length))).constData(), W_OK,
                            AT_EACCESS) != 0)
                attributes |= FileAttribute::ReadOnly;
            if (attributes & excludable & ~searchAttributes)
                return;
            if (!listAll && !(attributes & searchAttributes))
                return;
            contents.Add(name, length, attributes & FileAttribute::Directory, matchCount);
        });
    contents.Sort();
    return contents;
}

QString TFileListBox::ItemText(int index) const {
    return index >= 0 && index < Count() ? model_.Contents().Text(index) : QString();
}

QByteArray TFileListBox::ItemName(int index) const {
    return index >= 0 && index < Count() ? model_.Contents().Name(index) : QByteArray();
}

bool TFileListBox::Selected(int index) const {
    return selectionModel()->isSelected(model_.index(index));
}

void TFileListBox::SetSelected(int index, bool selected) {
    if (index < 0 || index >= Count())
        return;
    selectingByProgram_ = true;
    selectionModel()->select(model_.index(index), selected ? QItemSelectionModel::Select
                                                           : QItemSelectionModel::Deselect);
    selectingByProgram_ = false;
}

int TFileListBox::SelCount() const {
    int count = 0;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        count += range.height();
    return count;
}

void TFileListBox::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (!inDoubleClick_)
        Q_EMIT OnMouseDown(event->button(), event->buttons(), event->modifiers(), at.x(), at.y());
    // A right press leaves the selection alone.
    if (event->button() != Qt::RightButton)
        QListView::mousePressEvent(event);
}

void TFileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        // The view may replay this as a plain press; that press is reported below.
        inDoubleClick_ = true;
        QListView::mouseDoubleClickEvent(event);
        inDoubleClick_ = false;
        Q_EMIT OnDblClick();
    }
    Q_EMIT OnMouseDown(event->button(), event->buttons(), event->modifiers(), at.x(), at.y());
}
