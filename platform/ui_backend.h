// Internals shared by the UI files: output lines, the backend chosen by
// QUORVANE_UI, and the user actions of the script backend.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace platform::ui {

// ---- Output (ui_console.cpp) ----

// One line to the output sink (standard output, flushed, by default).
void emit(const std::string& line);
// A text in double quotes for an output line: the ANSI text converted to
// UTF-8, with \\, \", \r, \n, \t and \xHH (other control bytes) escaped.
std::string quote(const std::string& ansi);

// ---- User actions (ui_script.cpp) ----

struct Action {
  enum class Kind {
    Click,
    Type,
    Spin,
    Escape,
    Close,
    Deactivate,
    Activate,
    Resize,
    Icon,
    Answer,
    Wait
  };
  Kind kind = Kind::Click;
  int id = 0;                 // control (click, type, spin) or icon identifier
  bool hasId = false;         // icon: an identifier was given
  int first = 0;              // spin: delta; resize: width; answer: button code
  int second = 0;             // resize: height
  std::string text;           // type: the new text (ANSI bytes)
  uint64_t milliseconds = 0;  // wait
  std::string source;         // the line as written, for messages
};

enum class ParseResult { Action, Nothing, Error };
// One line of the action language; blank lines and lines starting with '#'
// give Nothing.
ParseResult parseAction(std::string_view line, Action* action, std::string* error);
// The button name of an answer code ("ok", "yes", ...).
const char* answerName(int code);

// ---- The backend (ui.cpp) ----

struct Backend {
  bool script = false;
  std::deque<Action> queue;
};
// The backend for the current QUORVANE_UI; a changed value starts a new one
// (reading the script file again). Call with the UI lock held.
Backend& backend();

// The UI lock: guards the window, icon and backend tables. Never held while a
// handler runs.
std::recursive_mutex& lock();

// ---- Dialogs (ui_dialog.cpp) ----

// Delivers the first queued action if something on the calling thread can
// take it now; the message loop's action hook.
bool deliverPendingAction();
// Delivers a left click to the icon (the "icon" action).
bool clickIcon(const Action& action);
// The owner of a shown icon with that identifier (any identifier when
// !hasId); 0 when there is none.
WindowHandle iconOwner(bool hasId, uint32_t id, uint32_t* iconId, uint32_t* callbackMessage);

}  // namespace platform::ui
