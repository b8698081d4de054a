#pragma once

class QProcess;

// The card host must never outlive the program, however the program ends
// (closed, crashed or killed), or it would keep holding the card. Each system
// has its own way to say so.

/// Called before the host starts.
void prepareHostProcess(QProcess& process);
/// Called once the host has started; false when it could not be tied to the
/// program (it still ends when its input closes).
bool adoptHostProcess(QProcess& process);
