// The keyboard and mouse bindings of the main window.

#include "ui/MainForm.h"

void TForm1::FormKeyDown(QObject*, int&, Qt::KeyboardModifiers) {
    // The letter keys are not bound yet.
}

void TForm1::FormKeyUp(QObject*, int&, Qt::KeyboardModifiers) {
    // The letter keys are not bound yet.
}

void TForm1::FormMouseWheelUp(QObject*) {
    // The wheel is not bound yet.
}

void TForm1::FormMouseWheelDown(QObject*) {
    // The wheel is not bound yet.
}

void TForm1::StatusBar1MouseDown(QObject*, Qt::MouseButton, Qt::MouseButtons, int, int) {
    // The volume regions are not bound yet.
}

void TForm1::FileListBox1MouseDown(QObject*, Qt::MouseButton, Qt::MouseButtons, int, int) {
    // The volume regions are not bound yet.
}
