// Shutdown flag, interruptible pauses and the diagnostic log on stderr, shared
// by the two listeners.
#pragma once

#include <string>

namespace devserver {

// Set once SIGINT or SIGTERM arrived; pauses then end early.
void RequestStop();
bool StopRequested();

// Sleeps `ms` milliseconds in short steps; false when a stop cut it short.
bool Pause(int ms);

// One time-stamped line on stderr; lines from several threads never mix.
void Diag(const std::string& message);

} // namespace devserver
