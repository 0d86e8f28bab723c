// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "common/ErrorReport.h"
#include "platform/BackgroundWork.h"
#include "platform/Volumes.h"

#include <QComboBox>
#include <QPointer>

#include <vector>

class TDirectoryListBox;

// The drive selector: one entry per mounted volume a user browses. Choosing one
// shows the folder last shown on it.
class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    TDriveComboBox(const QString& name, QWidget* parent);

    void SetDirList(TDirectoryListBox* dirList);
    const std::vector<Volume>& Volumes() const { return volumes_; }
    // The selected volume's mount point.
    QByteArray Drive() const;
    // Selects the volume that holds path, without moving the folder list.
    void SelectVolumeOf(const QByteArray& path);
    // Lists the volumes again, keeping the selection where it can.
    void Refresh();
    // What a user's choice of an entry does.
    void ChooseEntry(int index);
    // Media come and go: the list is made afresh whenever it drops down.
    void showPopup() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Fill(const std::vector<Volume>& volumes);
    // What the mount table does not tell is learnt in the background, each volume
    // on its own: one that does not answer stays listed as the table has it.
    void LearnDetails();
    void ApplyDetails(const QByteArray& mountPoint, const VolumeDetails& details);

    std::vector<Volume> volumes_;
    BackgroundWork details_{&RunGuarded};
    QPointer<TDirectoryListBox> dirList_;
    int selected_ = -1;
};
