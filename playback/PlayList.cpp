// The play list: Next, Previous, the end of a file, the loop modes, and the Play
// button following the selection.

#include "ui/MainForm.h"

void TForm1::Action4Execute(QObject*) {
    // The play list is not built yet.
}

void TForm1::Action5Execute(QObject*) {
    // The play list is not built yet.
}

void TForm1::Action11Execute(QObject*) {
    // The play list is not built yet.
}

void TForm1::Action13Execute(QObject*) {
    // The loop modes are not built yet.
}

void TForm1::Action14Execute(QObject*) {
    // The loop modes are not built yet.
}

void TForm1::Timer1Timer(QObject*) {
    // The tick is not built yet.
}
