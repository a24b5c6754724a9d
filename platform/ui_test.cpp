#include "platform/ui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/message_loop.h"
#include "platform/tick.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

// A handler that records what it receives; the hooks change its behaviour.
class RecordingHandler : public DialogHandler {
 public:
  std::vector<std::string> events;
  std::function<bool(Dialog&, int, int)> command;
  std::function<void(Dialog&, bool)> activate;
  std::function<void(Dialog&)> init;
  int minWidth = 0, minHeight = 0;

  void onInitDialog(Dialog& d) override {
    events.push_back("init");
    if (init) init(d);
  }
  bool onCommand(Dialog& d, int id, int code) override {
    events.push_back("command " + std::to_string(id) + " " + std::to_string(code));
    return command ? command(d, id, code) : false;
  }
  void onActivate(Dialog& d, bool active) override {
    events.push_back(active ? "activate" : "deactivate");
    if (activate) activate(d, active);
  }
  void onSize(Dialog&, int w, int h) override {
    events.push_back("size " + std::to_string(w) + "x" + std::to_string(h));
  }
  bool onMinTrackSize(Dialog&, int* w, int* h) override {
    if (!minWidth) return false;
    *w = minWidth, *h = minHeight;
    return true;
  }
  void onMessage(Dialog&, uint32_t message, uintptr_t w, intptr_t l) override {
    events.push_back("message " + std::to_string(message) + " " + std::to_string(w) + " " +
                     std::to_string(l));
  }
  void onDestroy(Dialog&) override { events.push_back("destroy"); }
};

DialogTemplate sampleTemplate() {
  DialogTemplate t;
  t.id = 2000;
  t.caption = "Quorvane";
  t.rect = {0, 0, 100, 80};
  t.style = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame;
  t.controls = {
      {2017, ControlKind::CheckBox, "Enabled", {4, 4, 50, 14}, 0},
      {2004, ControlKind::Edit, "", {4, 18, 60, 32}, kWsBorder},
      {2005, ControlKind::Edit, "", {4, 34, 60, 48}, kEsPassword},
      {2006, ControlKind::Edit, "15", {4, 50, 30, 64}, 0},
      {2007, ControlKind::UpDown, "", {30, 50, 36, 64}, kUdsAutoBuddy | kUdsSetBuddyInt},
      {2002, ControlKind::PushButton, "&Synchronize now", {40, 66, 70, 78}, kWsDisabled},
      {1, ControlKind::DefPushButton, "Close", {72, 66, 98, 78}, 0},
  };
  return t;
}

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("QUORVANE_UI");
    unsetenv("QUORVANE_CLOCK");
    setUiOutput([this](std::string_view line) { lines.emplace_back(line); });
  }
  void TearDown() override {
    setUiOutput(nullptr);
    unsetenv("QUORVANE_UI");
    unsetenv("QUORVANE_CLOCK");
  }
  void useScript(const std::string& content) {
    const auto path = prefix_.path() / "actions.txt";
    std::ofstream(path) << content;
    setenv("QUORVANE_UI", ("script:" + path.string()).c_str(), 1);
  }
  // The output lines that start with `prefix`.
  std::vector<std::string> linesStarting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : lines) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    }
    return out;
  }

  testsupport::TempPrefix prefix_;
  std::vector<std::string> lines;
};

TEST_F(UiTest, ConsoleAnswersMessageBoxesWithTheDefaultButton) {
  struct Row {
    uint32_t type;
    int answer;
    const char* tail;
  } rows[] = {
      {kMbOk | kMbIconError, kIdOk, "buttons=ok icon=error owner=7 answer=ok"},
      {kMbYesNo | kMbIconQuestion, kIdYes, "buttons=yesno icon=question owner=7 answer=yes"},
      {kMbYesNo | kMbDefButton2, kIdNo, "buttons=yesno icon=none owner=7 answer=no"},
      {kMbOkCancel | kMbIconWarning | kMbDefButton3, kIdOk,
       "buttons=okcancel icon=warning owner=7 answer=ok"},
      {kMbAbortRetryIgnore | kMbIconInformation | kMbDefButton3, kIdIgnore,
       "buttons=abortretryignore icon=information owner=7 answer=ignore"},
  };
  EXPECT_EQ(uiBackendName(), "console");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tail);
    lines.clear();
    EXPECT_EQ(showMessageBox(7, "Line 1\r\nsays \"hi\"", "Caption", row.type), row.answer);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string("messagebox caption=\"Caption\" text=\"Line 1\\r\\nsays "
                                    "\\\"hi\\\"\" ") +
                            row.tail);
  }
  EXPECT_NE(queueUserAction("click 1"), "");  // nobody to play the user
}

TEST_F(UiTest, ConsoleShowsAModalDialogAndPressesItsCloseControl) {
  DialogTemplate t = sampleTemplate();
  RecordingHandler handler;
  handler.init = [](Dialog& d) {
    d.setItemCheck(2017, 1);
    d.setItemText(2005, "secret");
    d.setUpDownRange(2007, 1, 32767);
  };
  EXPECT_EQ(runModalDialog(t, &handler, 0), kIdCancel);
  std::vector<std::string> expected = {
      "dialog create window=1001 template=2000 modal owner=0 caption=\"Quorvane\"",
      "dialog show window=1001 template=2000 caption=\"Quorvane\" width=156 height=155",
      "control window=1001 id=2017 kind=checkbox text=\"Enabled\" value=1 enabled=1 visible=1 "
      "rect=6,6,75,22",
      "control window=1001 id=2004 kind=edit text=\"\" enabled=1 visible=1 rect=6,29,90,52",
      "control window=1001 id=2005 kind=edit text=\"******\" enabled=1 visible=1 rect=6,55,90,78",
      "control window=1001 id=2006 kind=edit text=\"15\" enabled=1 visible=1 rect=6,81,45,104",
      "control window=1001 id=2007 kind=updown value=1 range=1..32767 buddy=2006 enabled=1 "
      "visible=1 rect=45,81,54,104",
      "control window=1001 id=2002 kind=button text=\"&Synchronize now\" enabled=0 visible=1 "
      "rect=60,107,105,126",
      "control window=1001 id=1 kind=defbutton text=\"Close\" enabled=1 visible=1 "
      "rect=108,107,147,126",
      "dialog activate window=1001 template=2000",
      "user click window=1001 id=2 (nobody answers)",
      "dialog end window=1001 template=2000 result=2",
      "dialog destroy window=1001 template=2000",
  };
  // Window handles go on counting from test to test; compare without them.
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    size_t at = line.find("window=");
    line.replace(at + 7, line.find(' ', at) - at - 7, "1001");
    EXPECT_EQ(line, expected[i]);
  }
  // Setting an edit's text notifies the dialog, during initialisation too.
  EXPECT_EQ(handler.events, (std::vector<std::string>{"init", "command 2005 768", "activate",
                                                      "command 2 0", "destroy"}));

  // The close control is a parameter; a handler that ignores it is ended anyway.
  t.closeControlId = 1;
  handler.events.clear();
  handler.command = [](Dialog&, int, int) { return true; };
  lines.clear();
  EXPECT_EQ(runModalDialog(t, &handler, 0), 1);
  EXPECT_EQ(handler.events[3], "command 1 0");
  EXPECT_EQ(linesStarting("dialog end").size(), 1u);
  EXPECT_NE(linesStarting("dialog end")[0].find("result=1 (forced)"), std::string::npos);
}

TEST_F(UiTest, ScriptDrivesAModalDialog) {
  useScript(
      "# the options dialog\n"
      "click 2002\n"  // disabled: ignored
      "click 2017\n"  // un-ticks the box
      "type 2004 alice\n"
      "spin 2007 -20\n"  // 15 - 20 is below the range
      "click 1\n"
      "answer no\n");
  RecordingHandler handler;
  handler.init = [](Dialog& d) {
    d.setItemCheck(2017, 1);
    d.setUpDownRange(2007, 1, 32767);
  };
  std::string user, spun;
  handler.command = [&](Dialog& d, int id, int code) {
    if (id != 1 || code != kBnClicked) return false;
    user = d.itemText(2004);
    spun = d.itemText(2006);
    EXPECT_EQ(d.itemCheck(2017), 0);
    EXPECT_EQ(showMessageBox(d.handle(), "Sure?", "Close", kMbYesNo), kIdNo);
    d.end(kIdOk);
    return true;
  };
  ASSERT_EQ(uiBackendName(), "script");
  EXPECT_EQ(runModalDialog(sampleTemplate(), &handler, 0), kIdOk);
  EXPECT_EQ(user, "alice");
  EXPECT_EQ(spun, "1");
  EXPECT_EQ(pendingUserActions(), 0u);
  EXPECT_EQ(handler.events,
            (std::vector<std::string>{"init", "activate", "command 2017 0", "command 2004 768",
                                      "command 2006 768", "command 1 0", "destroy"}));
  auto users = linesStarting("user ");
  ASSERT_EQ(users.size(), 5u);
  EXPECT_NE(users[0].find("id=2002 ignored (disabled or hidden)"), std::string::npos);
  EXPECT_NE(users[2].find("type window="), std::string::npos);
  EXPECT_NE(users[2].find("text=\"alice\""), std::string::npos);
  EXPECT_EQ(linesStarting("messagebox").size(), 1u);
  EXPECT_NE(linesStarting("messagebox")[0].find("answer=no"), std::string::npos);
}

TEST_F(UiTest, ScriptedEscapeCloseDeactivationAndAnswers) {
  useScript("");
  DialogTemplate t = sampleTemplate();
  struct Row {
    const char* actions;
    uint32_t style;
    int result;
    const char* lastEvent;
  } rows[] = {
      // Escape is the command IDCANCEL, which ends a modal dialog by default.
      {"escape", t.style, kIdCancel, "command 2 0"},
      // The system menu's Close becomes IDCANCEL when the handler leaves it.
      {"close", t.style, kIdCancel, "command 2 0"},
      // Without a system menu there is no Close; nobody answers, so the close
      // control is pressed.
      {"close", t.style & ~kWsSysMenu, kIdCancel, "command 2 0"},
      // The handler ends the dialog on deactivation.
      {"deactivate", t.style, 99, "deactivate"},
      // An answer waits for a message box; the dialog closes unanswered.
      {"answer yes", t.style, kIdCancel, "command 2 0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.actions);
    ASSERT_EQ(queueUserAction(row.actions), "");
    t.style = row.style;
    RecordingHandler handler;
    handler.activate = [](Dialog& d, bool active) {
      if (!active) d.end(99);
    };
    EXPECT_EQ(runModalDialog(t, &handler, 0), row.result);
    ASSERT_GE(handler.events.size(), 3u);
    EXPECT_EQ(handler.events[handler.events.size() - 2], row.lastEvent);
  }
  EXPECT_EQ(pendingUserActions(), 1u);  // the answer is still waiting
  lines.clear();
  EXPECT_EQ(showMessageBox(0, "t", "c", kMbOk), kIdOk);  // yes is not a button here
  EXPECT_EQ(lines[0],
            "messagebox caption=\"c\" text=\"t\" buttons=ok icon=none owner=0 "
            "answer=ok (no button yes)");
  EXPECT_EQ(pendingUserActions(), 0u);
}

TEST_F(UiTest, TimersKeepFiringWhileAModalDialogWaits) {
  setenv("QUORVANE_CLOCK", "virtual", 1);
  setVirtualClock(0);
  useScript("wait 1m\nclick 1\n");
  static std::vector<uint32_t> ticks;
  ticks.clear();
  uint32_t timer = setThreadTimer(20000, [](uint32_t, uint32_t tick) { ticks.push_back(tick); });
  RecordingHandler handler;
  std::vector<uint32_t> seenAtClose;
  handler.command = [&](Dialog&, int id, int) {
    if (id == 1) seenAtClose = ticks;
    return false;  // the default ends the dialog with IDOK
  };
  EXPECT_EQ(runModalDialog(sampleTemplate(), &handler, 0), kIdOk);
  killThreadTimer(timer);
  EXPECT_EQ(seenAtClose, (std::vector<uint32_t>{20000, 40000, 60000}));
  EXPECT_EQ(tickCount(), 60000u);
}

TEST_F(UiTest, ModelessDialogTakesActionsOnlyWhileVisibleAndResizesWithinItsMinimum) {
  useScript("resize 400 300\nresize 100 100\nclick 1\n");
  DialogTemplate t;
  t.id = 105;
  t.caption = "Bookmark plugin";
  t.rect = {0, 0, 188, 94};
  t.style = kWsPopup | kWsCaption | kWsThickFrame | kDsCenter;  // hidden, no system menu
  t.controls = {{1, ControlKind::DefPushButton, "Close", {132, 76, 182, 90}, 0}};
  RecordingHandler handler;
  handler.minWidth = 290;
  handler.minHeight = 180;
  handler.command = [](Dialog& d, int id, int) {
    if (id == 1) d.show(false);
    return true;
  };
  WindowHandle window = createModelessDialog(t, &handler, 0);
  ASSERT_NE(window, 0u);
  Dialog* dialog = findDialog(window);
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(dialog->visible());
  EXPECT_EQ(dialog->windowRect(), (Rect{367, 294, 657, 473}));  // centred, frame 4, caption 19
  EXPECT_EQ(dialog->end(1), false);                             // modeless
  dispatchPendingMessages();
  EXPECT_EQ(pendingUserActions(), 3u);  // nothing to take them yet

  dialog->show(true);
  dispatchPendingMessages();
  EXPECT_EQ(pendingUserActions(), 0u);
  EXPECT_FALSE(dialog->visible());
  EXPECT_EQ(handler.events,
            (std::vector<std::string>{"init", "size 392x273", "size 282x153", "command 1 0"}));
  EXPECT_EQ(dialog->windowRect().width(), 290);
  auto sizes = linesStarting("dialog size");
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[1].substr(sizes[1].find(" width")), " width=290 height=180 client=282x153");
  EXPECT_TRUE(destroyDialog(window));
  EXPECT_EQ(findDialog(window), nullptr);
  EXPECT_FALSE(destroyDialog(window));
}

TEST_F(UiTest, NotificationIconRequestsAndClicks) {
  useScript("icon\n");
  RecordingHandler handler;
  DialogTemplate t;
  t.id = 105;
  WindowHandle owner = createModelessDialog(t, &handler, 0);
  IconHandle icon = loadIconResource("/opt/x/libBookmark.so", 204);
  EXPECT_EQ(iconName(icon), "libBookmark.so,204");
  EXPECT_EQ(loadIconResource("/other/libBookmark.so", 204), icon);

  NotifyIconData record;
  record.hWnd = owner;
  record.uCallbackMessage = kWmUser + 100;
  record.uFlags = kNifMessage;
  dispatchPendingMessages();
  EXPECT_EQ(pendingUserActions(), 1u);  // no icon to click yet
  EXPECT_FALSE(notifyIcon(kNimModify, &record));
  EXPECT_FALSE(notifyIcon(kNimDelete, &record));

  record.uFlags = kNifMessage | kNifIcon | kNifTip;
  record.hIcon = icon;
  std::memset(record.szTip, 'x', sizeof record.szTip);  // full, no terminating zero
  lines.clear();
  ASSERT_TRUE(notifyIcon(kNimAdd, &record));
  EXPECT_FALSE(notifyIcon(kNimAdd, &record));
  EXPECT_EQ(lines[0], "icon add owner=" + std::to_string(owner) +
                          " id=0 icon=\"libBookmark.so,204\" tip=\"" + std::string(63, 'x') +
                          "\" callback=1124");
  EXPECT_EQ(lines[1], "icon add failed owner=" + std::to_string(owner) + " id=0");
  std::strcpy(record.szTip, "Bookmark plugin error");
  ASSERT_TRUE(notifyIcon(kNimModify, &record));
  ASSERT_EQ(shownIcons().size(), 1u);
  EXPECT_EQ(shownIcons()[0].tip, "Bookmark plugin error");

  dispatchPendingMessages();
  EXPECT_EQ(pendingUserActions(), 0u);
  EXPECT_EQ(handler.events.back(), "message 1124 0 513");

  NotifyIconData bad = record;
  bad.cbSize = 504;
  EXPECT_FALSE(notifyIcon(kNimDelete, &bad));
  EXPECT_FALSE(notifyIcon(kNimAdd, nullptr));
  EXPECT_TRUE(notifyIcon(kNimDelete, &record));
  EXPECT_TRUE(shownIcons().empty());
  EXPECT_EQ(lines.back(), "icon delete owner=" + std::to_string(owner) + " id=0");
  destroyDialog(owner);
}

TEST_F(UiTest, ActionLanguageErrorsAndTexts) {
  useScript("bogus\nclick\n");
  EXPECT_EQ(pendingUserActions(), 0u);
  ASSERT_EQ(linesStarting("ui error").size(), 2u);
  EXPECT_NE(lines[0].find(":1: bad user action \"bogus\": unknown action"), std::string::npos);
  struct Row {
    const char* line;
    bool ok;
  } rows[] = {
      {"click 12", true},         {"click x", false},
      {"click 1 2", false},       {"type 5", true},
      {"type 5 \"a\\tb\"", true}, {"type 5 \"open", false},
      {"type 5 \"\\x4\"", false}, {"spin 7 +3", true},
      {"spin 7", false},          {"resize 10 20", true},
      {"resize -1 20", false},    {"icon", true},
      {"icon 3", true},           {"answer maybe", false},
      {"answer retry", true},     {"wait 1m30s", true},
      {"wait soon", false},       {"escape now", false},
      {"  # comment", true},      {"", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(queueUserAction(row.line).empty(), row.ok);
  }
  uint64_t ms = 0;
  EXPECT_TRUE(parseDurationText("1h2m3s4ms", &ms));
  EXPECT_EQ(ms, 3723004u);
  EXPECT_TRUE(parseDurationText("250", &ms));
  EXPECT_EQ(ms, 250u);
  EXPECT_FALSE(parseDurationText("5x", &ms));
  EXPECT_FALSE(parseDurationText("99999999999999999999s", &ms));
}

TEST_F(UiTest, TypedTextIsConvertedAndOutputIsUtf8) {
  useScript("type 2004 caf\xC3\xA9\n");  // UTF-8 in the script file
  RecordingHandler handler;
  std::string typed;
  handler.command = [&](Dialog& d, int id, int code) {
    if (id == 2004 && code == kEnChange) typed = d.itemText(2004);
    return false;
  };
  runModalDialog(sampleTemplate(), &handler, 0);
  EXPECT_EQ(typed, "caf\xE9");  // code page 1252 in the edit
  auto typedLines = linesStarting("user type");
  ASSERT_EQ(typedLines.size(), 1u);
  EXPECT_NE(typedLines[0].find("text=\"caf\xC3\xA9\""), std::string::npos);
}

TEST_F(UiTest, WaitCursorPrintsItsChanges) {
  {
    WaitCursor outer;
    EXPECT_EQ(cursorShape(), CursorShape::Wait);
    WaitCursor inner;  // no change, no line
  }
  EXPECT_EQ(cursorShape(), CursorShape::Arrow);
  EXPECT_EQ(lines, (std::vector<std::string>{"cursor wait", "cursor arrow"}));
}

}  // namespace
}  // namespace platform
