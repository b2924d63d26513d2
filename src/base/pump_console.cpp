// Console builds have no window and no message queue.
#include "base/pump.h"

int PumpMessages() {
    return 0;
}
