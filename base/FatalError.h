#pragma once

#include <stdexcept>
#include <string>

/// A run-time error that ends the program: the window's handlers catch it at
/// their edge, show its text once and quit with a non-zero status.
class FatalError : public std::runtime_error {
public:
    explicit FatalError(const std::string& what) : std::runtime_error(what) {}
};
