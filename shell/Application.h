#pragma once

class QApplication;

// Sets up the application object: title, font, style, icon. Tests use it too,
// so that they see the window as a user does.
void InitialiseApplication(QApplication& application);

// Creates both windows, runs the message loop until the main window has closed,
// destroys the windows. Reports whatever escapes; always returns 0.
int RunApplication(QApplication& application);
