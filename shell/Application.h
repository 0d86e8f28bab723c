// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QApplication;

// Sets up the application object: title, font, style, icon. Tests use it too,
// so that they see the window as a user does.
void InitialiseApplication(QApplication& application);

// Makes the process's current folder one the browser can show: when the folder
// the program was started in has gone, or its path is too long to name, the
// nearest folder above it that can be entered. Returns the errno the start
// folder gave, 0 when it was fine.
int EnterStartFolder();

// Creates both windows, runs the message loop until the main window has closed,
// destroys the windows. Reports whatever escapes. Returns 0, or 1 when the
// windows could not be created.
int RunApplication(QApplication& application);
