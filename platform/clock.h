// Threads and time: the local clock, sleeping, and which thread is the
// interface thread.
#pragma once

namespace platform {

// The local date and time as days since 1899-12-30, the time of day as the
// fraction, to the millisecond.
double Now();

// Blocks the calling thread for the given number of milliseconds (0 or less
// returns at once).
void SleepMs(int milliseconds);

// True on the interface thread: the thread that started the program (the one
// that ran static initialisation), unless MarkInterfaceThread named another.
bool IsInterfaceThread();

// Makes the calling thread the interface thread. Tests that run a window on a
// thread of their own use this; the program itself never needs it.
void MarkInterfaceThread();

}  // namespace platform
