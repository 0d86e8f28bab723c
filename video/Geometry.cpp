// SPDX-License-Identifier: GPL-3.0-or-later

// The picture's geometry in the video area: the window's resize handler, and the
// aspect-ratio and own-size commands.

#include "ui/MainForm.h"

#include "media/MediaPlayer.h"
#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

#include <QScopedValueRollback>
#include <QScreen>

#include <algorithm>

namespace {

// A client dimension as the window system can take it; a picture size from a
// damaged file must not overflow into a negative or wrapped size.
int ClientDimension(long long wanted) {
    return static_cast<int>(std::clamp<long long>(wanted, 0, QWIDGETSIZE_MAX));
}

} // namespace

void TForm1::SizeReport() {
    StatusBar1->SetPanelText(
        StatusPanel::Sizes,
        AreaAndPictureSizeText(Panel3->width(), Panel3->height(), VideoWidth, VideoHeight));
    // An area that happens to equal the picture counts as showing its own size.
    OriginalSize1->SetCaption(Panel3->height() == VideoHeight && Panel3->width() == VideoWidth
                                  ? CurrentSizeCaption()
                                  : OriginalSizeCaption());
}

void TForm1::FormResize(QObject*) {
    if (MediaPlayer1->DeviceID() != 0) {
        if (!ResizingByProgram)
            MediaPlayer1->SetDisplayRect({0, 0, Panel3->width(), Panel3->height()});
        SizeReport();
    } else {
        StatusBar1->SetPanelText(StatusPanel::Sizes,
                                 AreaSizeText(Panel3->width(), Panel3->height()));
    }
    // Integer division truncates toward zero, also for an area narrower than the icon.
    Image1->move((Panel3->width() - 32) / 2, (Panel3->height() - 32) / 2);
}

bool TForm1::WindowStateIsNormal() const {
    return !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
}

QSize TForm1::FittedClientSize(int width, int height) const {
    const QScreen* shownOn = screen();
    if (!shownOn)
        return {width, height};
    const QRect free = shownOn->availableGeometry();
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const int frameWidth = frame.width() - client.width();
    const int frameHeight = frame.height() - client.height();
    return {std::min(width, std::max(1, free.width() - frameWidth)),
            std::min(height, std::max(1, free.height() - frameHeight))};
}

void TForm1::KeepFrameOnScreen() {
    const QScreen* shownOn = screen();
    if (!shownOn)
        return;
    const QRect free = shownOn->availableGeometry();
    const QRect frame = frameGeometry();
    const int left =
        std::max(free.left(), std::min(frame.left(), free.right() + 1 - frame.width()));
    const int top = std::max(free.top(), std::min(frame.top(), free.bottom() + 1 - frame.height()));
    if (left != frame.left() || top != frame.top())
        move(left, top);
}

void TForm1::Action12Execute(QObject*) {
    if (MediaPlayer1->DeviceID() == 0 || !WindowStateIsNormal() || VideoHeight < 1)
        return;
    const QScopedValueRollback<bool> programResize(ResizingByProgram, true);
    // On a shown window Qt lays out and sends the resize event inside resize():
    // the area below is the new one.
    resize(ClientDimension(static_cast<long long>(Panel3->height()) * VideoWidth / VideoHeight +
                           BrowserWidth),
           height());
    MediaPlayer1->SetDisplayRect({0, 0, Panel3->width(), Panel3->height()});
}

void TForm1::Action15Execute(QObject*) {
    if (MediaPlayer1->DeviceID() == 0 || !WindowStateIsNormal())
        return;
    const QScopedValueRollback<bool> programResize(ResizingByProgram, true);
    // The window system may refuse a size (a picture taller than any screen): the
    // window it gave for the last switch still counts as the picture's own size.
    const QSize picture(VideoWidth, VideoHeight);
    const bool ownSizeShown = (Panel3->height() == VideoHeight && Panel3->width() == VideoWidth) ||
                              (ownSizePicture_ == picture && ownSizeClient_ == size());
    if (!ownSizeShown) {
        SavedClientHeight = height();
        SavedClientWidth = width();
        const QSize wanted =
            FittedClientSize(ClientDimension(static_cast<long long>(VideoWidth) + BrowserWidth),
                             ClientDimension(static_cast<long long>(VideoHeight) + SeekStripHeight +
                                             StatusBarHeight));
        resize(wanted.width(), height());
        resize(width(), wanted.height());
        KeepFrameOnScreen();
        ownSizeClient_ = size();
        ownSizePicture_ = picture;
        // A window the screen could not hold at the picture's size gets a picture
        // the size of its area: a larger one would cover the other controls.
        MediaPlayer1->SetDisplayRect(
            {0, 0, std::min(VideoWidth, Panel3->width()), std::min(VideoHeight, Panel3->height())});
        OriginalSize1->SetCaption(CurrentSizeCaption());
    } else {
        ownSizeClient_ = QSize();
        resize(SavedClientWidth, height());
        resize(width(), SavedClientHeight);
        KeepFrameOnScreen();
        MediaPlayer1->SetDisplayRect({0, 0, SavedClientWidth - BrowserWidth,
                                      SavedClientHeight - SeekStripHeight - StatusBarHeight});
        OriginalSize1->SetCaption(OriginalSizeCaption());
    }
}
