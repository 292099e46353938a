#pragma once
// Message pumping for the window tests: each message goes to the windows' PreTranslateMessage
// first and is then translated and dispatched, the way the program's own message loop runs it.

#include <windows.h>

#include <functional>

namespace testsupport {

// Runs the thread's messages for about ms milliseconds.
void Pump(DWORD ms);
// Runs the thread's messages until done() holds or ms pass; true when it held. done() is asked
// again after every message: a window with a 1 ms timer and repaints keeps the queue from ever
// running dry while it works.
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 20000);

} // namespace testsupport
