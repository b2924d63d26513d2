// What the portable code needs of the main window services: the message pump
// that keeps the windows alive during long work. The window handle itself is
// Win32-only (mainwindow_win.h).
#pragma once

// Dispatches every message waiting in the thread's queue without waiting and
// returns how many it dispatched. A quit message ends the process at once with
// its code (nothing is cleaned up). The console build has no queue: returns 0.
int PumpMessages();
