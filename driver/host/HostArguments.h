#pragma once
// The host's command line, and what stands in for its argument: the library
// the host serves is the one its first argument names, else the one beside
// the host.

#include <string>

/// Argument `index` of the host's command line as UTF-8: on Windows read from
/// the wide command line, since `argv` there is in the ANSI code page, which
/// cannot spell every folder name; elsewhere `argv[index]` as it came.
/// `index` is below `argc`.
std::string hostArgument(char* argv[], int index);

/// The card library's path (UTF-8) beside the running host executable:
/// tovira.dll on Windows, libtovira.so elsewhere.
std::string libraryBesideHost();
