// The picture's geometry in the video area: the window's resize handler, and the
// aspect-ratio and own-size commands.

#include "ui/MainForm.h"

#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

void TForm1::FormResize(QObject*) {
    StatusBar1->SetPanelText(StatusPanel::Sizes, AreaSizeText(Panel3->width(), Panel3->height()));
    // Integer division truncates toward zero, also for an area narrower than the icon.
    Image1->move((Panel3->width() - 32) / 2, (Panel3->height() - 32) / 2);
}

void TForm1::Action12Execute(QObject*) {
    // Needs an open picture; comes with the picture geometry.
}

void TForm1::Action15Execute(QObject*) {
    // Needs an open picture; comes with the picture geometry.
}
