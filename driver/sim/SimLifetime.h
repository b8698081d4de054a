#pragma once
// How the one simulated card lives and ends with the library that holds it.
// Windows needs care (SimLifetime_win.cpp); elsewhere nothing does
// (SimLifetime_posix.cpp).

#include "SimCard.h"

/// The card behind the library's exports (ToviraExports.cpp). Destroyed when
/// the library is unloaded or the process ends; its destructor stops the
/// acquisition thread. On Windows that happens under the loader lock, where a
/// thread cannot end, so there the library stays loaded once a start has run
/// (keepLoaded), and at the process's end the thread, which Windows has
/// already stopped, is let go instead (DllMain).
extern SimCard g_card;

/// Called by every start before the acquisition thread runs: on Windows pins
/// the library in the process for good, so it is never unloaded while that
/// thread may run; elsewhere unloading is safe and this does nothing.
void keepLoaded();
