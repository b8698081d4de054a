#include "HostArguments.h"

#include <string>

#include <unistd.h>

std::string hostArgument(char* argv[], int index) {
    return argv[index];
}

std::string libraryBesideHost() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string self = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "./";
    return self.substr(0, self.rfind('/') + 1) + "libtovira.so";
}
