#pragma once

// SIGTERM, SIGINT and SIGHUP as events: each signal writes a byte into a
// pipe whose read end an event loop watches, so that shutdown runs as an
// ordinary handler and never inside the signal. Installed first thing in
// main, so that a signal that comes before the event loop waits in the pipe.
// SIGPIPE is ignored: a write to a closed pipe (a vanished reader of
// standard error, say) fails quietly instead of ending the program.
namespace stopsignals {

// The pipe's read end, or -1 where signals cannot be caught this way.
int install();
// Takes one signal's byte out of the pipe.
void take();

} // namespace stopsignals
