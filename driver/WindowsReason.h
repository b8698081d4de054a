#pragma once
// For the Windows files of this folder (*_win.cpp).

#include <QString>

/// The system's words for error number `error` and the number, as the card
/// host words its reasons ("... (127)"), in the system's language.
QString windowsReason(unsigned long error);
