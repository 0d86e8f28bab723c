// SPDX-License-Identifier: GPL-3.0-or-later

// Paths from outside the program: the first command-line argument at start and
// items dropped from the desktop. Both only point the browser at a folder.

#include "ui/MainForm.h"

#include "media/MediaPlayer.h"
#include "platform/DroppedFiles.h"
#include "platform/FileSystem.h"
#include "shell/CommandLine.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"

namespace {

// The folder a path points the browser at. A path whose attributes cannot be
// read goes as it is: the folder list then says what is wrong with it.
QByteArray FolderNamedBy(const QByteArray& path) {
    const std::optional<int> attributes = FileAttributes(path);
    if (!attributes || (*attributes & FileAttribute::Directory))
        return path;
    const int slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

} // namespace

QByteArray TForm1::ResolveLongPath(const QByteArray& path) {
    const std::optional<QByteArray> stored = StoredEntryName(path);
    if (!stored)
        return path; // names nothing; also the end of the walk up to the root
    const int slash = path.lastIndexOf('/');
    const QByteArray parent = slash < 0 ? QByteArray() : path.left(slash);
    return ResolveLongPath(parent) + '/' + *stored;
}

void TForm1::ShowFolderOf(std::function<QByteArray()> path) {
    DirectoryListBox1->SetDirectoryLocated(
        [path = std::move(path)] { return FolderNamedBy(path()); });
}

void TForm1::ShowCommandLineFolder() {
    const std::vector<QByteArray>& arguments = CommandLineArguments();
    if (arguments.empty() || arguments.front().isEmpty())
        return;
    QByteArray argument = arguments.front();
    // Against the folder the program was started in, not the root.
    if (!argument.startsWith('/'))
        argument = CurrentDirectory() + '/' + argument;
    ShowFolderOf([argument] {
        return argument.endsWith('/') ? ResolveLongPath(argument.left(argument.size() - 1)) + '/'
                                      : ResolveLongPath(argument);
    });
}

void TForm1::WMDropFiles(const DroppedFiles& Drop) {
    if (MediaPlayer1->DeviceID() != 0 || Drop.Count() == 0)
        return;
    setFocus();
    raise();
    activateWindow();
    // The whole path: cutting it short would point the browser somewhere else.
    ShowFolderOf([path = Drop.Path(0)] { return path; });
}
