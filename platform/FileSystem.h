// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The file system as the browser sees it. Paths and names are the file
// system's bytes: they go back to the kernel exactly as they came.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

// Attribute bits of a directory entry, mapped from what Linux knows of it.
namespace FileAttribute {
constexpr int ReadOnly = 0x01; // the user may not write it
constexpr int Hidden = 0x02;   // the name begins with a dot
constexpr int System =
    0x04; // neither a regular file nor a folder: socket, device, FIFO, broken link
constexpr int VolumeId = 0x08;  // never set on Linux
constexpr int Directory = 0x10; // a folder, or a link to one
constexpr int Archive = 0x20;   // never set on Linux
} // namespace FileAttribute

struct ScannedEntry {
    QByteArray Name;
    int Attributes = 0;
};

// Decides, from the bare name alone, whether an entry is worth its attributes.
using NameFilter = std::function<bool(const char* name, std::size_t length)>;

// Receives each accepted entry; the name is valid only during the call.
using EntryVisitor = std::function<void(const char* name, std::size_t length, int attributes)>;

// Reads the entries of a folder other than "." and "..". Attributes are looked up
// only for names the filter accepts; read-only needs an access check per entry and
// is computed only when asked for. Returns false when the folder cannot be read.
bool VisitDirectory(const QByteArray& folder, const NameFilter& filter, bool wantReadOnly,
                    const EntryVisitor& visit);

// The same, collected.
std::optional<std::vector<ScannedEntry>> ScanDirectory(const QByteArray& folder,
                                                       const NameFilter& filter, bool wantReadOnly);

// The current folder: the folder names are expanded against (links are not
// resolved). The process itself stays at the root once a
// folder has been made current, so that no volume is held busy by it.
QByteArray CurrentDirectory();

// For the folder the program started in, the path as the user walked to it
// (the shell's PWD) when that names the same folder; any other folder as it is.
// It may wait on the file system.
QByteArray AsWalked(const QByteArray& folder);

// Makes path (relative ones against the current folder) the current folder when
// it is a folder that may be entered; returns 0 or the errno of the failure.
int ChangeDirectory(const QByteArray& path);

// Whether an absolute path is a folder that may be entered: 0 or the errno of the
// failure. It may wait on the file system, and may run on any thread.
int CheckFolder(const QByteArray& absolutePath);
// Makes an absolute path that CheckFolder accepted the current folder.
void SetCurrentDirectory(const QByteArray& absolutePath);

// The folder part of a path made absolute against the current folder, without
// "." or ".." components and without a trailing slash (except for the root).
QByteArray AbsolutePath(const QByteArray& path);

// How a name or path is shown: UTF-8 as such, else Shift-JIS (CP932) when it
// decodes cleanly, else UTF-8 with each undecodable byte written as \xNN.
QString DisplayName(const QByteArray& name);

// The attribute bits of what a path names (links followed), or nothing when they
// cannot be read.
std::optional<int> FileAttributes(const QByteArray& path);

// The last component of path as its folder stores it: on a volume that ignores
// case this is the stored spelling of the same entry. Nothing when the path
// names nothing or has no last component.
std::optional<QByteArray> StoredEntryName(const QByteArray& path);
