#pragma once
// Text helpers for the host's Windows files (the *_win.cpp here): UTF-8 is
// what the protocol carries, UTF-16 what Windows takes.

#include <string>

/// UTF-8 to UTF-16, for Windows' wide calls.
std::wstring wide(const std::string& utf8);
/// UTF-16 (`length` units, or -1 up to and including the terminating zero) to UTF-8.
std::string utf8(const wchar_t* text, int length);
/// The system's words for error number `error`, and the number: "… (126)".
std::string systemReason(unsigned long error);
