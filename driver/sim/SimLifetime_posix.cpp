#include "SimLifetime.h"

// Here the library may be unloaded while acquisition runs: unloading runs the
// card's destructor, which stops the thread and waits for it to end.
void keepLoaded() {
}
