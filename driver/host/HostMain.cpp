// tovira-host: loads the card library and serves the program's calls to it
// over standard input and output (see HostProtocol.h). The library is the one
// named by the first argument (the program passes the file it found, which may
// be in Windows' system folder), else tovira.dll in the host's own folder. It
// shows no window of its own and ends when the program ends.
//
// The library may write to standard output or read standard input; neither
// may reach the program's channel. So the channel moves to private handles at
// once, and standard output then points at standard error, standard input at
// the null device (prepareProcess, one file per system).

#include "HostMain.h"
#include "CardLibrary.h"
#include "HostArguments.h"
#include "HostServer.h"

int main(int argc, char* argv[]) {
    prepareProcess();
    PipeChannel channel;
    CardLibrary library(argc > 1 ? hostArgument(argv, 1) : libraryBesideHost());
    return serveCalls(channel, library);
}
