# Sourced by every script that runs Wine: sets WINE to the command that starts
# a Windows program.
#
# Debian's wine starts every program with Wine's 32-bit loader once wine32 is
# installed, 64-bit programs too (it hands them on to the 64-bit one). A
# kernel built without 32-bit support refuses that loader ("Exec format
# error"), and then nothing runs at all. There the 64-bit loader is called
# directly: 64-bit programs run, 32-bit ones still cannot, and the tests that
# need them find that out and skip (WinePrefix.sh runs32).
# WINE_32BIT_REFUSED then says why no 32-bit program runs.
WINE=wine
WINE_32BIT_REFUSED=
if [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ] &&
    ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    WINE=/usr/lib/wine/wine64
    WINE_32BIT_REFUSED="this kernel runs no 32-bit programs: it refuses Wine's 32-bit loader"
    # Wine's own programs (wineboot, the services) are started by the loader
    # named here.
    export WINELOADER=/usr/lib/wine/wine64
fi
