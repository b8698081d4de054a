#pragma once

#include "base/FatalError.h"

#include <functional>
#include <string>

/// The text of the FatalError that `call` throws, or a note that it threw none.
inline std::string fatalErrorText(const std::function<void()>& call) {
    try {
        call();
    } catch (const FatalError& e) {
        return e.what();
    }
    return "<no FatalError thrown>";
}
