// The plug-in's lifecycle in a process: what library load and unload do,
// the automatic-synchronisation timer, the toolbar command and the sign-up
// callback that the engine's options dialog calls.
//
// Only a process whose executable is IEXPLORE.EXE counts itself and runs
// automatic synchronisations; of those, only the first (the holder of the
// start-up mutex) runs the start-up and timer runs. The last one to unload
// runs the exit synchronisation.
#pragma once

#include <cstdint>
#include <string>

namespace bookmark {

// The timer's period, in milliseconds.
inline constexpr uint32_t kTimerPeriod = 20000;

// Process attach: decides whether the host is the browser, counts the
// process, runs the start-up run and starts the timer.
void onProcessAttach(void* module);
// Process detach: closes the start-up mutex, counts the process out, runs the
// exit run when it was the last one, and destroys the error window.
void onProcessDetach();

// The thread timer's callback.
void timerCallback(uint32_t timerId, uint32_t now);
// Whole minutes since the last run, in unsigned 32-bit arithmetic: the
// difference wraps with the tick count and the division truncates.
uint32_t elapsedMinutes(uint32_t now, uint32_t lastRun);
// A timer run is due when the elapsed minutes are at least the interval,
// compared as unsigned 32-bit numbers (a negative interval never comes).
bool timerRunDue(uint32_t now, uint32_t lastRun, int interval);

// The toolbar button and menu item (IOleCommandTarget::Exec).
void onToolbarCommand();

// The sign-up page for the configured server, from the shared settings key:
// "http://" + host [+ ":" + port when not 80] + the page's path and query.
std::string signUpAddress(const std::string& appName);
// Navigates the current object's browser to the sign-up page; does nothing
// when there is no current object, no site or no browser.
void signUpCallback();

}  // namespace bookmark
