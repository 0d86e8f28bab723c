// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What assistive technologies (screen readers, through the desktop's
// accessibility bus) read of the window's own controls: the status bar's six
// panels one by one, the seek bar's position and range, the toolbar's gap.

class TProgressBar;
class TStatusBar;

// Once per application, before the first window is shown.
void InstallAccessibility();

// Tell assistive technologies that a panel's text or the bar's position changed.
void AnnouncePanelText(TStatusBar& bar, int index);
void AnnounceSeekPosition(TProgressBar& bar);
