#pragma once

#include <string>

/// The card library as the host loads it: by its path (UTF-8), at the first call of
/// any of its functions, each function looked up by name when first asked for.
/// A library or function that cannot be had is a LibraryFault naming it and
/// the system's reason.
class CardLibrary final {
public:
    explicit CardLibrary(std::string path) : m_path(std::move(path)) {}
    CardLibrary(const CardLibrary&) = delete;
    CardLibrary& operator=(const CardLibrary&) = delete;
    // The library stays loaded until the process ends: its acquisition thread
    // may still run when the host is told to go.

    /// The function exported as `name`; loads the library first if needed.
    void* function(const char* name);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    void* m_handle = nullptr;
};

/// Why the library or one of its functions cannot be had; `function` is empty
/// when the library itself did not load.
struct LibraryFault {
    std::string function;
    std::string reason;
};
