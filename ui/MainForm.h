// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The main window. Its components carry their names as Qt object names; its
// handlers are defined in the folder of the subsystem that owns them.

#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class DroppedFiles;
class MediaService;
class QDBusConnection;
class WaveOutVolume;
class QTimer;
class QAction;
class QMenu;
class TMediaPlayer;
class TDirectoryListBox;
class TDriveComboBox;
class TFileListBox;
class TImage;
class TImageList;
class TMenuItem;
class TPanel;
class TProgressBar;
class TStatusBar;
class TTimer;
class TToolBar;
class TToolButton;
class TToolSeparator;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int DesignClientWidth = 533;
    static constexpr int DesignClientHeight = 343;
    static constexpr int BrowserWidth = 133;   // Panel1
    static constexpr int SeekStripHeight = 24; // Panel2
    static constexpr int StatusBarHeight = 19; // StatusBar1

    // The media service is the window's road to the media engine, the wave-out
    // volume its road to the system's output device.
    TForm1(std::unique_ptr<MediaService> mediaService, std::unique_ptr<WaveOutVolume> waveOut,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // Components, in the order of the window's definition.
    TPanel* Panel1;
    TDriveComboBox* DriveComboBox1;
    TDirectoryListBox* DirectoryListBox1;
    TFileListBox* FileListBox1;
    TToolBar* ToolBar1;
    TToolSeparator* ToolButton1;
    TToolButton* ToolButton2;
    TToolButton* ToolButton3;
    TToolButton* ToolButton4;
    TToolButton* ToolButton5;
    TToolButton* ToolButton6;
    TPanel* Panel2;
    TProgressBar* ProgressBar1;
    TStatusBar* StatusBar1;
    TPanel* Panel3;
    TImage* Image1;
    TPanel* Panel4;
    TMediaPlayer* MediaPlayer1;

    QObject* ActionList1;
    QAction* Action1;
    QAction* Action2;
    QAction* Action3;
    QAction* Action4;
    QAction* Action5;
    QAction* Action6;
    QAction* Action7;
    QAction* Action8;
    QAction* Action9;
    QAction* Action10;
    QAction* Action11;
    QAction* Action12;
    QAction* Action13;
    QAction* Action14;
    QAction* Action15;
    QAction* Action16;
    TImageList* ImageList1;
    TTimer* Timer1;

    QMenu* PopupMenu1;
    TMenuItem* P1;
    TMenuItem* Play1;
    TMenuItem* Pause1;
    TMenuItem* Stop1;
    TMenuItem* Next1;
    QAction* N3;
    QMenu* Volume1;
    TMenuItem* Up1;
    TMenuItem* Down1;
    TMenuItem* Mute1;
    QAction* N1;
    TMenuItem* About1;
    QAction* N2;
    TMenuItem* Quit1;

    QMenu* PopupMenu2;
    TMenuItem* AspectRatio1;
    TMenuItem* OriginalSize1;
    QMenu* N4;
    TMenuItem* Single1;
    TMenuItem* All1;

    // The handlers and routines below are grouped by the file that defines them.

    // shell/FormLifecycle.cpp: the window's life and the Quit command.
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void Action6Execute(QObject* Sender); // Quit

    // shell/ShellPaths.cpp: items dropped from the desktop.
    void WMDropFiles(const DroppedFiles& Drop);

    // playback/Session.cpp: the media session.
    // Every command of the user enters here and runs inside the error guard: now,
    // or, while a file opens, once the open has ended, in the order they came.
    void Command(std::function<void()> command);
    void FormClose(QObject* Sender);
    void Action1Execute(QObject* Sender);  // Play
    void Action2Execute(QObject* Sender);  // Stop
    void Action3Execute(QObject* Sender);  // Pause / Resume
    void Action16Execute(QObject* Sender); // Idle reset

    // playback/PlayList.cpp: the play list, loop modes and the tick.
    void Action4Execute(QObject* Sender);  // Next
    void Action5Execute(QObject* Sender);  // Previous
    void Action11Execute(QObject* Sender); // Selection changed
    void Action13Execute(QObject* Sender); // Loop one file
    void Action14Execute(QObject* Sender); // Loop the selection
    void Timer1Timer(QObject* Sender);

    // playback/Seeking.cpp: the seek bar and the seek keys.
    void ProgressBar1MouseDown(QObject* Sender, Qt::MouseButton Button, Qt::MouseButtons Buttons,
                               int X, int Y);
    void ProgressBar1MouseMove(QObject* Sender, Qt::MouseButtons Buttons, int X, int Y);
    void ProgressBar1MouseUp(QObject* Sender, Qt::MouseButton Button, int X, int Y);
    // Each press or repeat steps the seek bar by 1 % of the length (direction +1
    // forward, -1 back) with playback held; the release plays from there.
    void SeekStep(int direction);
    void SeekRelease();
    // As a press on the seek bar at position (in the device's time format), then
    // its release there.
    void SeekTo(int position);

    // video/Geometry.cpp: the picture's geometry.
    void FormResize(QObject* Sender);
    void Action12Execute(QObject* Sender); // Correct the aspect ratio
    void Action15Execute(QObject* Sender); // Picture's own size

    // controls/Bindings.cpp: keys and mouse.
    void FormKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift);
    void FormKeyUp(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift);
    void FormMouseWheelUp(QObject* Sender);
    void FormMouseWheelDown(QObject* Sender);
    // The window gave up the focus: a seek key held then is released elsewhere.
    void FormDeactivate(QObject* Sender);
    void StatusBar1MouseDown(QObject* Sender, Qt::MouseButton Button, Qt::MouseButtons Buttons,
                             int X, int Y);
    void FileListBox1MouseDown(QObject* Sender, Qt::MouseButton Button, Qt::MouseButtons Buttons,
                               int X, int Y);

    // controls/Volume.cpp: volume and mute.
    void Action8Execute(QObject* Sender);  // Mute
    void Action9Execute(QObject* Sender);  // Volume up
    void Action10Execute(QObject* Sender); // Volume down
    // Shares what to put back at exit with the other players on the bus, where
    // this one is known by ownName.
    // Also ends HoldWaveVolumeUntilShared.
    void ShareWaveVolume(const QDBusConnection& bus, const QString& ownName);

    // ui/AboutCommand.cpp.
    void Action7Execute(QObject* Sender); // About

Q_SIGNALS:
    // Commands have run: what the window shows may have changed.
    void CommandsRan();

protected:
    // ui/MainForm.cpp: Qt's events, each handed to its handler inside the error guard.
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // shell/ShellPaths.cpp.
    // The stored spelling of every component of an absolute path; a path that
    // names nothing comes back unchanged. It waits on the file system.
    static QByteArray ResolveLongPath(const QByteArray& path);
    // Points the browser at a folder, or at the folder holding a file; the path
    // is made and looked at in the background.
    void ShowFolderOf(std::function<QByteArray()> path);
    void ShowCommandLineFolder();

    // playback/Session.cpp.
    // Begins opening the play list's file at FileIndex; once it is open and
    // started, playing runs, and a file without a picture ends the play list
    // instead. An engine error is raised then, or reported with the window made
    // idle at once.
    void PlayCurrentFile(std::function<void()> playing, bool idleOnError = false);
    void RunWaitingCommands();
    // The one sequence that returns the window to its look with no file open.
    void IdleReset();
    void SetPlayingLook();
    // Stop, then the cannot-play message.
    void AbandonPlayList();
    // Takes the browser's input away until the returned call gives it back.
    std::function<void()> HoldBrowser();
    // Closes the open file, already stopped or at its end, and gives the display
    // back to the video area.
    void CloseFile();
    // After a failed open: the tick off and the idle look.
    void ReturnToIdle();

    // playback/PlayList.cpp.
    // What the tick does when it finds the open file stopped: by loop mode, play
    // it again, advance, or start the selection again.
    void EndOfFile();
    // Next and Previous: stops and closes the open file, opens the selected file at
    // index with the rank moved by ordinalStep; playing runs once it plays.
    void SwitchToFile(int index, int ordinalStep, std::function<void()> playing);
    // Previous and Next after a step forward through the selection.
    void ShowStepForward();
    void ToggleLoopMode(TMenuItem* mode, TMenuItem* other, const QString& label);

    // playback/Seeking.cpp.
    // Playback held and the tick off while the user seeks.
    void HoldForSeek();
    // The seek bar and the time text at a point.
    void ShowSeekPoint(int position);

    // video/Geometry.cpp.
    // Panel 2 with the area and picture sizes, and the own-size caption.
    void SizeReport();
    // The main window is neither maximised, minimised nor full screen.
    bool WindowStateIsNormal() const;
    // The client size that fits the screen's free area, and a frame kept inside it.
    QSize FittedClientSize(int width, int height) const;
    void KeepFrameOnScreen();

    // controls/Bindings.cpp.
    // A seek key's release waits briefly for a press of the same key: a release the
    // system did not mark as auto-repeat is one when that press follows at once.
    void BindKeyRelease();
    void HoldKeyRelease(int key);
    void FinishKeyRelease();

    // controls/Volume.cpp.
    // The device volume for the present levels, and the level in panel 3.
    void SetWaveVolume(std::uint32_t volume);
    void ApplyVolume();
    void VolumeUp();
    void VolumeDown();
    void SaveWaveVolume();
    void RestoreWaveVolume();
    // The device sounds as the window shows: its level, or its mute.
    void SoundAsShown();

    // ui/Accessibility.cpp: names, and what each control does, for assistive
    // technologies.
    void NameComponents();

    // ui/MainForm.cpp: building the window.
    void CreateComponents();
    void CreateActions();
    void CreateMenus();
    void BindEvents();
    // Runs the window's command whose shortcut is keys; false when none has it.
    bool TriggerShortcut(QKeyCombination keys);
    // Places every component for the present client size: docking and anchors.
    void ArrangeComponents();
    QAction* MakeAction(const QString& name, const QString& category, const QString& caption,
                        const QString& hint, int imageIndex, const QKeySequence& shortcut,
                        void (TForm1::*handler)(QObject*));
    // Enables or disables a transport command on its button and menu item together;
    // the same state again changes nothing.
    void SetTransport(TToolButton* button, TMenuItem* item, bool enabled, int imageIndex);

    std::unique_ptr<TMediaPlayer> mediaPlayer_;
    std::unique_ptr<WaveOutVolume> waveOut_;
    bool shown_ = false;
    // The commands that wait for an open to end (playback/Session.cpp).
    struct WaitingCommand {
        std::function<void()> Run;
        std::uint64_t BoxesBefore; // modal boxes shown when it came
    };
    std::deque<WaitingCommand> commands_;
    bool inCommand_ = false;
    int wheelDelta_ = 0;
    // The seek key held down, and the one whose release waits (controls/Bindings.cpp).
    int heldSeekKey_ = 0;
    QTimer* keyReleaseTimer_ = nullptr;
    int releasedKey_ = 0;
    unsigned releasedDevice_ = 0;
    int releaseWaits_ = 0;
    QElapsedTimer releaseWaiting_;
    // What the last switch to a picture's own size gave, whatever the window
    // system made of the request, and for which picture.
    QSize ownSizeClient_;
    QSize ownSizePicture_;
};

extern TForm1* Form1;

// The player's state, one set per process (ui/PlayerState.cpp).

// Puts every variable below back to the value a run starts with.
void ResetPlayerState();

// The playback state.
extern int FileIndex;   // index in FileListBox1 of the file being played, or last tried
extern int PlayOrdinal; // 1-based rank of that file among the selected ones
extern bool OpenFailed; // the last open found no picture
extern int VideoWidth;  // the open file's picture at its own size
extern int VideoHeight;

// The window-size state.
extern int SavedClientWidth; // client size before the last switch to the picture's own size
extern int SavedClientHeight;
extern bool ResizingByProgram; // the program itself is changing the window's size

// The volume state.
extern int VolumeLeft; // levels in percent, in steps of 10
extern int VolumeRight;
extern bool Muted;
extern std::uint32_t SavedWaveVolume; // the device's volume found at start, if it could be read

// Until ShareWaveVolume, the device is neither read nor changed: a player that
// ends meanwhile cannot find this one on the bus to leave the device to it.
void HoldWaveVolumeUntilShared();
// Puts back the device volume found at start, if the window has not done so,
// from whatever way the program ends without it: exit() (a lost display), or
// any end where the session bus may be gone already. Any thread.
void RestoreWaveVolumeAtExit() noexcept;
// The same for the last resort after a termination signal, but where the volume
// is shared with other players (ShareWaveVolume) and one of them still runs,
// leaves the device to it, as the window's own exit does. Asks the session bus
// for a short bounded time.
void HandOverOrRestoreWaveVolumeAtExit() noexcept;
