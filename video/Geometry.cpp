// The picture's geometry in the video area: the window's resize handler, and the
// aspect-ratio and own-size commands.

#include "ui/MainForm.h"

#include "media/MediaPlayer.h"
#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

int SavedClientWidth = TForm1::DesignClientWidth;
int SavedClientHeight = TForm1::DesignClientHeight;
bool ResizingByProgram = false;

void TForm1::SizeReport() {
    StatusBar1->SetPanelText(
        StatusPanel::Sizes,
        AreaAndPictureSizeText(Panel3->width(), Panel3->height(), VideoWidth, VideoHeight));
    // An area that happens to equal the picture counts as showing its own size.
    if (Panel3->height() == VideoHeight && Panel3->width() == VideoWidth)
        OriginalSize1->SetCaption(CurrentSizeCaption());
    else if (OriginalSize1->Caption() != OriginalSizeCaption())
        OriginalSize1->SetCaption(OriginalSizeCaption());
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

void TForm1::Action12Execute(QObject*) {
    // Correcting the aspect ratio is not built yet.
}

void TForm1::Action15Execute(QObject*) {
    // The toggle to the picture's own size is not built yet.
}
