// Remembers, for the rest of this start, that the application server stopped answering.
#pragma once

#include <string>

namespace jov {

// Once a connect, a call or a download of this process has run out of time, the later ones
// fail at once instead of waiting again, so that one stalled server delays start-up once.
// Safe to call from any thread; never blocks for long.

// True once NoteServerStall was called (and ResetServerStall was not called since).
bool ServerHasStalled();
// Records that talking to the server timed out; why says what timed out, for later messages,
// and reason the same in Portuguese for the log. The first cause is kept.
void NoteServerStall(const std::string& why, const std::string& reason = {});
// The cause given to the first NoteServerStall, empty when the server has not stalled.
std::string ServerStallCause();
// Its reason in Portuguese (Windows-1252), empty when none was given.
std::string ServerStallReason();
// Forgets the stall (for tests that start several times in one process).
void ResetServerStall();

}  // namespace jov
