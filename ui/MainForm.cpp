// SPDX-License-Identifier: GPL-3.0-or-later

#include "ui/MainForm.h"

#include "common/ErrorReport.h"
#include "media/MediaPlayer.h"
#include "platform/DroppedFiles.h"
#include "platform/KeyCodes.h"
#include "platform/MediaService.h"
#include "platform/WaveOutVolume.h"
#include "ui/Controls.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/ImageList.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"
#include "ui/ToolBar.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QWheelEvent>

TForm1* Form1 = nullptr;

namespace {

QColor ButtonFace(const QWidget* widget) {
    return widget->palette().color(QPalette::Button);
}

} // namespace

TForm1::TForm1(std::unique_ptr<MediaService> mediaService, std::unique_ptr<WaveOutVolume> waveOut,
               QWidget* parent)
    : QWidget(parent), waveOut_(std::move(waveOut)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Qel"));
    setWindowIcon(ProgramIcon());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(false);

    CreateComponents();
    mediaPlayer_ = std::make_unique<TMediaPlayer>(QStringLiteral("MediaPlayer1"), nullptr,
                                                  std::move(mediaService));
    MediaPlayer1 = mediaPlayer_.get();
    MediaPlayer1->SetDisplay(Panel3);
    CreateActions();
    CreateMenus();
    BindEvents();
    NameComponents();

    move(10, 10);
    resize(DesignClientWidth, DesignClientHeight);
    ArrangeComponents();
    RunGuarded([this] { FormCreate(this); });
}

TForm1::~TForm1() {
    RunGuarded([this] { FormDestroy(this); });
}

void TForm1::CreateComponents() {
    ImageList1 = new TImageList(QStringLiteral("ImageList1"), this);

    Panel1 = new TPanel(QStringLiteral("Panel1"), this, TPanel::Bevel::Raised, ButtonFace(this));
    DriveComboBox1 = new TDriveComboBox(QStringLiteral("DriveComboBox1"), Panel1);
    DirectoryListBox1 = new TDirectoryListBox(QStringLiteral("DirectoryListBox1"), Panel1);
    FileListBox1 = new TFileListBox(QStringLiteral("FileListBox1"), Panel1);
    FileListBox1->SetMask(QStringLiteral("*.mpg;*.wmv;*.asf;*.mpeg"));
    FileListBox1->SetFileType(TFileType::ftReadOnly | TFileType::ftNormal);
    DirectoryListBox1->SetFileList(FileListBox1);
    DriveComboBox1->SetDirList(DirectoryListBox1);

    ToolBar1 = new TToolBar(QStringLiteral("ToolBar1"), Panel1);

    Panel2 = new TPanel(QStringLiteral("Panel2"), this, TPanel::Bevel::Raised, ButtonFace(this));
    ProgressBar1 = new TProgressBar(QStringLiteral("ProgressBar1"), Panel2);

    StatusBar1 = new TStatusBar(QStringLiteral("StatusBar1"), this,
                                {{72, Qt::AlignHCenter, {}, QStringLiteral("Play list")},
                                 {93, Qt::AlignHCenter, {}, QStringLiteral("Time")},
                                 {134, Qt::AlignHCenter, {}, QStringLiteral("Sizes")},
                                 {50, Qt::AlignHCenter, {}, QStringLiteral("Volume")},
                                 {50, Qt::AlignHCenter, {}, QStringLiteral("Loop mode")},
                                 {50, Qt::AlignLeft, {}, QStringLiteral("File name")}});

    Panel3 = new TPanel(QStringLiteral("Panel3"), this, TPanel::Bevel::None, Qt::black);
    Image1 = new TImage(QStringLiteral("Image1"), Panel3, ProgramIconPixmap(32));
    Image1->setGeometry(184, 134, 32, 32);
    Panel4 = new TPanel(QStringLiteral("Panel4"), Panel3, TPanel::Bevel::None, Qt::black);
    Panel4->hide();

    Timer1 = new TTimer(QStringLiteral("Timer1"), this, 100);

    // Tab order: the browser's lists, then the video area.
    setTabOrder(DriveComboBox1, DirectoryListBox1);
    setTabOrder(DirectoryListBox1, FileListBox1);
}

QAction* TForm1::MakeAction(const QString& name, const QString& category, const QString& caption,
                            const QString& hint, int imageIndex, const QKeySequence& shortcut,
                            void (TForm1::*handler)(QObject*)) {
    auto* action = new QAction(caption, ActionList1);
    action->setObjectName(name);
    action->setProperty("category", category);
    action->setProperty("imageIndex", imageIndex);
    if (imageIndex >= 0)
        action->setIcon(ImageList1->Icon(imageIndex));
    if (!hint.isEmpty()) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    }
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action); // acts while the window is active
    }
    // Quit acts at once, also while a file opens.
    if (handler == &TForm1::Action6Execute)
        connect(action, &QAction::triggered, this,
                [this, action, handler] { RunGuarded([&] { (this->*handler)(action); }); });
    else
        connect(action, &QAction::triggered, this,
                [this, action, handler] { Command([=, this] { (this->*handler)(action); }); });
    return action;
}

void TForm1::CreateActions() {
    ActionList1 = new QObject(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    const QString control = QStringLiteral("Control");
    const QString option = QStringLiteral("Option");
    const auto ctrlAlt = [](Qt::Key key) {
        return QKeySequence(Qt::CTRL | Qt::ALT | key);
    };
    Action1 = MakeAction(QStringLiteral("Action1"), control, QStringLiteral("Play"),
                         QStringLiteral("Play"), TImageList::PlayImage, ctrlAlt(Qt::Key_X),
                         &TForm1::Action1Execute);
    Action2 =
        MakeAction(QStringLiteral("Action2"), control, QStringLiteral("Stop"),
                   QStringLiteral("Stop"), TImageList::StopImage, {}, &TForm1::Action2Execute);
    Action3 =
        MakeAction(QStringLiteral("Action3"), control, QStringLiteral("Pause"),
                   QStringLiteral("Pause"), TImageList::PauseImage, {}, &TForm1::Action3Execute);
    Action4 =
        MakeAction(QStringLiteral("Action4"), control, QStringLiteral("Next"),
                   QStringLiteral("Next"), TImageList::NextImage, {}, &TForm1::Action4Execute);
    Action5 = MakeAction(QStringLiteral("Action5"), control, QStringLiteral("Previous"),
                         QStringLiteral("Previous"), TImageList::PreviousImage, {},
                         &TForm1::Action5Execute);
    Action6 = MakeAction(QStringLiteral("Action6"), QStringLiteral("File"), QStringLiteral("Quit"),
                         {}, -1, ctrlAlt(Qt::Key_Q), &TForm1::Action6Execute);
    Action7 = MakeAction(QStringLiteral("Action7"), QStringLiteral("Help"), QStringLiteral("About"),
                         {}, -1, ctrlAlt(Qt::Key_A), &TForm1::Action7Execute);
    Action8 = MakeAction(QStringLiteral("Action8"), control, QStringLiteral("Mute"), {}, -1,
                         ctrlAlt(Qt::Key_R), &TForm1::Action8Execute);
    Action9 = MakeAction(QStringLiteral("Action9"), control, QStringLiteral("Up"), {}, -1,
                         ctrlAlt(Qt::Key_E), &TForm1::Action9Execute);
    Action10 = MakeAction(QStringLiteral("Action10"), control, QStringLiteral("Down"), {}, -1,
                          ctrlAlt(Qt::Key_W), &TForm1::Action10Execute);
    Action11 = MakeAction(QStringLiteral("Action11"), control, QStringLiteral("Action11"), {}, -1,
                          {}, &TForm1::Action11Execute);
    Action12 = MakeAction(QStringLiteral("Action12"), option, QStringLiteral("Aspect Ratio"), {},
                          -1, {}, &TForm1::Action12Execute);
    Action13 = MakeAction(QStringLiteral("Action13"), option, QStringLiteral("Single"), {}, -1,
                          ctrlAlt(Qt::Key_O), &TForm1::Action13Execute);
    Action14 = MakeAction(QStringLiteral("Action14"), option, QStringLiteral("All"), {}, -1,
                          ctrlAlt(Qt::Key_P), &TForm1::Action14Execute);
    Action15 = MakeAction(QStringLiteral("Action15"), option, QStringLiteral("Action15"), {}, -1,
                          {}, &TForm1::Action15Execute);
    Action16 = MakeAction(QStringLiteral("Action16"), option, QStringLiteral("Action16"), {}, -1,
                          {}, &TForm1::Action16Execute);

    ToolButton1 = new TToolSeparator(QStringLiteral("ToolButton1"), ToolBar1);
    ToolButton1->setGeometry(0, TToolBar::ButtonTop, 8, TToolBar::ButtonHeight);
    const auto button = [this](const QString& name, int left, QAction* command,
                               const QString& hint) {
        auto* made = new TToolButton(name, ToolBar1, ImageList1, command, hint);
        made->setGeometry(left, TToolBar::ButtonTop, TToolBar::ButtonWidth, TToolBar::ButtonHeight);
        made->setEnabled(false);
        made->SetImageIndex(TImageList::Blank);
        return made;
    };
    ToolButton2 = button(QStringLiteral("ToolButton2"), 8, Action5, QStringLiteral("Previous (Z)"));
    ToolButton3 = button(QStringLiteral("ToolButton3"), 31, Action1, Action1->toolTip());
    ToolButton4 =
        button(QStringLiteral("ToolButton4"), 54, Action3, QStringLiteral("Pause/Resume (C)"));
    ToolButton5 = button(QStringLiteral("ToolButton5"), 77, Action2, QStringLiteral("Stop (V)"));
    ToolButton6 = button(QStringLiteral("ToolButton6"), 100, Action4, QStringLiteral("Next (B)"));
}

void TForm1::CreateMenus() {
    const QString ctrlAltLabel = QStringLiteral("Ctrl+Alt+%1");
    const auto item = [](const QString& name, const QString& caption, const QString& label,
                         QAction* command, QMenu* menu, bool enabled) {
        auto* made = new TMenuItem(name, caption, label, command, menu);
        made->setEnabled(enabled);
        menu->addAction(made);
        return made;
    };
    const auto separator = [](const QString& name, QMenu* menu) {
        QAction* made = menu->addSeparator();
        made->setObjectName(name);
        return made;
    };

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    P1 = item(QStringLiteral("P1"), QStringLiteral("Previous"), QStringLiteral("Z"), Action5,
              PopupMenu1, false);
    Play1 = item(QStringLiteral("Play1"), QStringLiteral("Play"), ctrlAltLabel.arg('X'), Action1,
                 PopupMenu1, false);
    Pause1 = item(QStringLiteral("Pause1"), QStringLiteral("Pause"), QStringLiteral("C"), Action3,
                  PopupMenu1, false);
    Stop1 = item(QStringLiteral("Stop1"), QStringLiteral("Stop"), QStringLiteral("V"), Action2,
                 PopupMenu1, false);
    Next1 = item(QStringLiteral("Next1"), QStringLiteral("Next"), QStringLiteral("B"), Action4,
                 PopupMenu1, false);
    N3 = separator(QStringLiteral("N3"), PopupMenu1);
    Volume1 = PopupMenu1->addMenu(QStringLiteral("Volume"));
    Volume1->setObjectName(QStringLiteral("Volume1"));
    Up1 = item(QStringLiteral("Up1"), QStringLiteral("Up"), ctrlAltLabel.arg('E'), Action9, Volume1,
               false);
    Down1 = item(QStringLiteral("Down1"), QStringLiteral("Down"), ctrlAltLabel.arg('W'), Action10,
                 Volume1, true);
    Mute1 = item(QStringLiteral("Mute1"), QStringLiteral("Mute"), ctrlAltLabel.arg('R'), Action8,
                 PopupMenu1, true);
    N1 = separator(QStringLiteral("N1"), PopupMenu1);
    About1 = item(QStringLiteral("About1"), QStringLiteral("About"), ctrlAltLabel.arg('A'), Action7,
                  PopupMenu1, true);
    N2 = separator(QStringLiteral("N2"), PopupMenu1);
    Quit1 = item(QStringLiteral("Quit1"), QStringLiteral("Quit"), ctrlAltLabel.arg('Q'), Action6,
                 PopupMenu1, true);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    AspectRatio1 = item(QStringLiteral("AspectRatio1"), QStringLiteral("Correct A-Ratio"),
                        QStringLiteral("K"), Action12, PopupMenu2, false);
    OriginalSize1 = item(QStringLiteral("OriginalSize1"), OriginalSizeCaption(),
                         QStringLiteral("L"), Action15, PopupMenu2, false);
    N4 = PopupMenu2->addMenu(QStringLiteral("Loop"));
    N4->setObjectName(QStringLiteral("N4"));
    Single1 = item(QStringLiteral("Single1"), QStringLiteral("Single"), ctrlAltLabel.arg('O'),
                   Action13, N4, true);
    All1 = item(QStringLiteral("All1"), QStringLiteral("All"), ctrlAltLabel.arg('P'), Action14, N4,
                true);
    Single1->SetChecked(false);
    All1->SetChecked(false);

    Panel3->SetPopupMenu(PopupMenu1);
    ToolBar1->SetPopupMenu(PopupMenu2);
}

void TForm1::BindEvents() {
    BindKeyRelease();
    connect(Timer1, &TTimer::OnTimer, this,
            [this] { RunGuarded([this] { Timer1Timer(Timer1); }); });
    connect(MediaPlayer1, &TMediaPlayer::OpenEnded, this, [this] {
        // Input does not act on a window behind a box.
        if (QApplication::activeModalWidget() != nullptr)
            commands_.clear();
        RunWaitingCommands();
    });
    // The end of a file is taken at once, not at the next tick: the next file of
    // the play list starts up to a tick sooner.
    connect(MediaPlayer1, &TMediaPlayer::Ended, Timer1, &TTimer::FireNow);
    connect(DirectoryListBox1, &TDirectoryListBox::OnChange, this,
            [this] { Command([this] { Action11Execute(DirectoryListBox1); }); });
    connect(FileListBox1, &TFileListBox::OnClick, this,
            [this] { Command([this] { Action11Execute(FileListBox1); }); });
    connect(FileListBox1, &TFileListBox::OnDblClick, this,
            [this] { Command([this] { Action1Execute(FileListBox1); }); });
    connect(FileListBox1, &TFileListBox::OnMouseDown, this,
            [this](Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x,
                   int y) {
                Command([=, this] { FileListBox1MouseDown(FileListBox1, button, buttons, x, y); });
            });
    connect(ProgressBar1, &TProgressBar::OnMouseDown, this,
            [this](Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x,
                   int y) {
                Command([=, this] { ProgressBar1MouseDown(ProgressBar1, button, buttons, x, y); });
            });
    connect(ProgressBar1, &TProgressBar::OnMouseMove, this,
            [this](Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x, int y) {
                Command([=, this] { ProgressBar1MouseMove(ProgressBar1, buttons, x, y); });
            });
    connect(ProgressBar1, &TProgressBar::OnMouseUp, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
                Command([=, this] { ProgressBar1MouseUp(ProgressBar1, button, x, y); });
            });
    connect(StatusBar1, &TStatusBar::OnMouseDown, this,
            [this](Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x,
                   int y) {
                Command([=, this] { StatusBar1MouseDown(StatusBar1, button, buttons, x, y); });
            });
    connect(StatusBar1, &TStatusBar::OnDblClick, this,
            [this] { Command([this] { Action8Execute(StatusBar1); }); });
    connect(Panel3, &TPanel::OnClick, this,
            [this] { Command([this] { Action3Execute(Panel3); }); });
    connect(Panel3, &TPanel::OnDblClick, this,
            [this] { Command([this] { Action3Execute(Panel3); }); });
}

void TForm1::ArrangeComponents() {
    const int w = width();
    const int h = height();
    // Bottom strips first, then the browser on the right of what is left.
    StatusBar1->setGeometry(0, h - StatusBarHeight, w, StatusBarHeight);
    Panel2->setGeometry(0, h - StatusBarHeight - SeekStripHeight, w, SeekStripHeight);
    const int upper = std::max(0, h - StatusBarHeight - SeekStripHeight);
    Panel1->setGeometry(w - BrowserWidth, 0, BrowserWidth, upper);
    Panel3->setGeometry(0, 0, std::max(0, w - BrowserWidth), upper);
    Panel4->setGeometry(0, 0, Panel3->width(), Panel3->height());

    // Inside the browser: fixed top controls, the file list stretching down to
    // 35 pixels above the panel's bottom, the toolbar docked to the bottom.
    const int ph = Panel1->height();
    DriveComboBox1->setGeometry(5, 5, 122, 18);
    DirectoryListBox1->setGeometry(5, 28, 122, 69);
    FileListBox1->setGeometry(5, 102, 122, std::max(0, ph - 35 - 102));
    ToolBar1->setGeometry(1, ph - 1 - 29, BrowserWidth - 2, 29);

    ProgressBar1->setGeometry(4, 4, std::max(0, w - 8), 16);
}

void TForm1::SetTransport(TToolButton* button, TMenuItem* item, bool enabled, int imageIndex) {
    button->setEnabled(enabled);
    button->SetImageIndex(enabled ? imageIndex : TImageList::Blank);
    item->setEnabled(enabled);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ArrangeComponents();
    RunGuarded([this] { FormResize(this); });
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_ || event->spontaneous())
        return;
    shown_ = true;
    RunGuarded([this] { FormShow(this); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { FormClose(this); });
    Q_EMIT CommandsRan();
    event->accept();
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    int key = BindingKey(*event);
    // Qt matched the shortcuts by the layout's own letters; a layout without
    // Latin ones leaves them to the key's place.
    constexpr Qt::KeyboardModifiers kChords =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (key != event->key() &&
        TriggerShortcut(QKeyCombination(event->modifiers() & kChords, Qt::Key(key))))
        return;
    Command([this, key, modifiers = event->modifiers()]() mutable {
        FormKeyDown(this, key, modifiers);
    });
    QWidget::keyPressEvent(event);
}

void TForm1::keyReleaseEvent(QKeyEvent* event) {
    // A held key sends a release before each repeat; only the real release counts.
    if (!event->isAutoRepeat()) {
        Command([this, key = BindingKey(*event), modifiers = event->modifiers()]() mutable {
            FormKeyUp(this, key, modifiers);
        });
    }
    QWidget::keyReleaseEvent(event);
}

bool TForm1::TriggerShortcut(QKeyCombination keys) {
    for (QAction* action : actions()) {
        if (action->shortcut() == QKeySequence(keys) && action->isEnabled()) {
            action->trigger();
            return true;
        }
    }
    return false;
}

void TForm1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        RunGuarded([this] { FormDeactivate(this); });
    QWidget::changeEvent(event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    // Drops are taken only while no file is open; the cursor says so at once.
    if (MediaPlayer1->DeviceID() == 0 && DroppedFiles::FromMimeData(*event->mimeData()).Count() > 0)
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dropEvent(QDropEvent* event) {
    Command([this, drop = DroppedFiles::FromMimeData(*event->mimeData())] { WMDropFiles(drop); });
    event->acceptProposedAction();
}

void TForm1::wheelEvent(QWheelEvent* event) {
    // One event per notch of 120, however the device splits its movement.
    wheelDelta_ += event->angleDelta().y();
    while (wheelDelta_ >= 120) {
        wheelDelta_ -= 120;
        Command([this] { FormMouseWheelUp(this); });
    }
    while (wheelDelta_ <= -120) {
        wheelDelta_ += 120;
        Command([this] { FormMouseWheelDown(this); });
    }
    event->accept();
}
