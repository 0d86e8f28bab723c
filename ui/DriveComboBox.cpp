// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/DriveComboBox.h"

#include "common/ErrorReport.h"
#include "platform/FileSystem.h"
#include "ui/DirectoryListBox.h"

#include <QKeyEvent>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>

namespace {

QStyle::StandardPixmap IconOf(VolumeKind kind) {
    switch (kind) {
    case VolumeKind::Removable:
        return QStyle::SP_DriveFDIcon;
    case VolumeKind::Optical:
        return QStyle::SP_DriveCDIcon;
    case VolumeKind::Network:
        return QStyle::SP_DriveNetIcon;
    case VolumeKind::Fixed:
        break;
    }
    return QStyle::SP_DriveHDIcon;
}

} // namespace

TDriveComboBox::TDriveComboBox(const QString& name, QWidget* parent) : QComboBox(parent) {
    setObjectName(name);
    setIconSize(QSize(14, 14));
    // A wheel passing over the closed selector must not switch volumes.
    setFocusPolicy(Qt::StrongFocus);
    Fill(ListVolumes());
    SelectVolumeOf(CurrentDirectory());
    LearnDetails();
    connect(this, &QComboBox::activated, this,
            [this](int index) { RunGuarded([&] { ChooseEntry(index); }); });
}

void TDriveComboBox::SetDirList(TDirectoryListBox* dirList) {
    dirList_ = dirList;
    if (dirList_) {
        dirList_->SetDriveCombo(this);
        SelectVolumeOf(dirList_->Directory());
    }
}

QByteArray TDriveComboBox::Drive() const {
    return selected_ >= 0 && selected_ < static_cast<int>(volumes_.size())
               ? volumes_[selected_].MountPoint
               : QByteArray();
}

void TDriveComboBox::SelectVolumeOf(const QByteArray& path) {
    selected_ = VolumeHolding(volumes_, path);
    setCurrentIndex(selected_);
}

void TDriveComboBox::Refresh() {
    const QByteArray drive = Drive();
    Fill(ListVolumes());
    selected_ = -1;
    for (std::size_t i = 0; i < volumes_.size(); ++i)
        if (volumes_[i].MountPoint == drive)
            selected_ = static_cast<int>(i);
    if (selected_ < 0 && dirList_)
        selected_ = VolumeHolding(volumes_, dirList_->Directory());
    setCurrentIndex(selected_);
    LearnDetails();
}

void TDriveComboBox::LearnDetails() {
    details_.Supersede();
    if (!VolumeDetailsWanted())
        return;
    for (const Volume& volume : volumes_) {
        details_.StartAlongside([this, volume]() -> BackgroundWork::Delivery {
            const VolumeDetails details = LearnVolumeDetails(volume);
            return [this, mountPoint = volume.MountPoint, details] {
                ApplyDetails(mountPoint, details);
            };
        });
    }
}

void TDriveComboBox::ApplyDetails(const QByteArray& mountPoint, const VolumeDetails& details) {
    const auto found = std::find_if(volumes_.begin(), volumes_.end(),
                                    [&](const Volume& v) { return v.MountPoint == mountPoint; });
    if (found == volumes_.end())
        return;
    const int index = static_cast<int>(found - volumes_.begin());
    if (!details.IsFolder) {
        // A single file bound over another, as containers do, is no volume to browse.
        volumes_.erase(found);
        removeItem(index);
        if (selected_ == index)
            selected_ = -1;
        else if (selected_ > index)
            --selected_;
        setCurrentIndex(selected_);
        return;
    }
    ApplyVolumeDetails(*found, details);
    setItemIcon(index, style()->standardIcon(IconOf(found->Kind)));
    setItemText(index, found->DisplayText());
}

void TDriveComboBox::ChooseEntry(int index) {
    if (index < 0 || index >= static_cast<int>(volumes_.size()))
        return;
    // The same volume again changes nothing while its shown folder is still there;
    // a folder gone with its medium gives way to one that exists.
    const bool same = index == selected_;
    // The choice stays shown even if the volume cannot be entered.
    selected_ = index;
    setCurrentIndex(index);
    if (dirList_)
        dirList_->ShowVolume(volumes_[index].MountPoint, same);
}

void TDriveComboBox::wheelEvent(QWheelEvent* event) {
    if (!hasFocus()) {
        event->accept();
        return;
    }
    QComboBox::wheelEvent(event);
}

void TDriveComboBox::keyPressEvent(QKeyEvent* event) {
    // Not a search for an entry: a chord the shortcuts did not take goes on to
    // the window, which matches it by the key's place.
    if (event->modifiers().testFlags(Qt::ControlModifier | Qt::AltModifier)) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void TDriveComboBox::showPopup() {
    Refresh();
    QComboBox::showPopup();
}

void TDriveComboBox::Fill(const std::vector<Volume>& volumes) {
    std::vector<Volume> known = std::move(volumes_);
    volumes_ = volumes;
    // What was learnt of a volume still mounted holds until it is learnt again.
    for (Volume& volume : volumes_)
        for (const Volume& before : known)
            if (before.MountPoint == volume.MountPoint && before.Device == volume.Device) {
                volume.Label = before.Label;
                volume.Kind = before.Kind;
            }
    clear();
    for (const Volume& volume : volumes_)
        addItem(style()->standardIcon(IconOf(volume.Kind)), volume.DisplayText());
}
