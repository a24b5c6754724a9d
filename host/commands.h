// The command language of the browser stand-in, one command per line:
//
//   open                 open a browser window (numbered 1, 2, ...)
//   close N              close window N
//   press N [TEXT]       press the toolbar button TEXT (default "Favorites")
//   advance DURATION     virtual clock: move it on, firing timers when due
//   sleep DURATION       real time passes while messages are dispatched
//   tick                 print the tick count
//   ui ACTION            queue a user action for the script UI backend
//   offline | online     switch the machine's connection state
//   echo TEXT            print TEXT
//   quit                 close everything, unload the libraries and end
//
// Blank lines and lines starting with '#' are skipped.
#pragma once

#include <string>

#include "host/browser.h"

namespace host {

class CommandRunner {
 public:
  explicit CommandRunner(Browser* browser) : browser_(browser) {}

  // Runs one line; false once it was "quit". A refused command prints an
  // "error" line and counts in errors().
  bool run(const std::string& line, int lineNumber);
  int errors() const { return errors_; }

 private:
  void fail(int lineNumber, const std::string& text);
  Browser* browser_;
  int errors_ = 0;
};

// Switches the connection state that the platform reports.
bool setConnectionOffline(bool offline);

}  // namespace host
