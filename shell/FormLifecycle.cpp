// The main window's life: create, show, close, destroy, and the Quit command.

#include "ui/MainForm.h"

#include "ui/Controls.h"
#include "ui/StatusBar.h"
#include "ui/StatusTexts.h"

void TForm1::FormCreate(QObject*) {
    // The volume save joins here with the volume control.
}

void TForm1::FormShow(QObject*) {
    StatusBar1->SetPanelText(StatusPanel::Sizes, AreaSizeText(Panel3->width(), Panel3->height()));
}

void TForm1::FormDestroy(QObject*) {
    // The volume restore joins here with the volume control.
}

void TForm1::Action6Execute(QObject*) {
    close();
}
