// Console builds have no window and no message queue.
#include "app/mainwindow.h"

int PumpMessages() { return 0; }
