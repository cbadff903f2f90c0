// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SIGTERM, SIGINT, SIGHUP and SIGUSR1 as events: each signal writes its
// number into a pipe whose read end an event loop watches, so that the
// handling runs as an ordinary handler and never inside the signal.
// Installed first thing in main, so that a signal that comes before the event
// loop waits in the pipe. SIGPIPE is ignored: a write to a closed pipe (a
// vanished reader of standard error, say) fails with EPIPE instead of ending
// the program.
namespace stopsignals {

// The pipe's read end, or -1 where signals cannot be caught this way.
int install();
// Takes one signal out of the pipe: its number, 0 if none was waiting.
int take();

} // namespace stopsignals
