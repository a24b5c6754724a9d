// The options dialog through Synchronize(true, ...) in-process, played by
// the script backend: what it shows, the enabled states, the presses of
// "&Synchronize now" against the reference service, and what the host and the
// registry receive when it closes.
#include "engine/sync_options_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "engine/client_app.h"
#include "engine/corvex.h"
#include "engine/dialog_resource.h"
#include "engine/engine_test_support.h"
#include "engine/scramble.h"
#include "engine/settings_registry.h"
#include "platform/http_client.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"

namespace corvex {
namespace {

using testsupport::ScopedEnv;

constexpr char kUser[] = "alice";
constexpr char kPassword[] = "s3cret pw";

// An exchange document with one bookmark per name.
std::string listDocument(const std::vector<std::string>& names) {
  std::string text =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" \"exchange.dtd\">\n"
      "<bookmarks>\n";
  int order = 0;
  for (const std::string& name : names) {
    text += "  <bookmark order=\"" + std::to_string(order++) + "\">\n    <name>" + name +
            "</name>\n    <link>http://" + name + ".example/</link>\n  </bookmark>\n";
  }
  return text + "</bookmarks>\n";
}

std::vector<std::string> bookmarkNames(const std::string& document) {
  std::vector<std::string> found;
  const std::string open = "<name>", close = "</name>";
  for (size_t at = document.find(open); at != std::string::npos; at = document.find(open, at)) {
    at += open.size();
    const size_t end = document.find(close, at);
    if (end == std::string::npos) break;
    found.push_back(document.substr(at, end - at));
    at = end + close.size();
  }
  std::sort(found.begin(), found.end());
  return found;
}

// One control as its latest "control" line showed it.
struct ControlState {
  std::string text;
  std::string value;
  bool enabled = false;
  bool visible = false;
  std::string line;
};

int g_registerCalls = 0;
void countRegisterCall() { ++g_registerCalls; }

class OptionsDialogTest : public test::EngineTest {
 protected:
  void SetUp() override {
    // A script file of the test's own gives a fresh action queue.
    const std::filesystem::path script = prefix_.path() / "actions.txt";
    test::writeFileText(script, "");
    ui_ = std::make_unique<ScopedEnv>("QUORVANE_UI", "script:" + script.string());
    platform::setUiOutput([this](std::string_view line) { lines_.emplace_back(line); });
    setRegisterFunc(nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(platform::pendingUserActions(), 0u) << "actions left over";
    platform::setUiOutput(nullptr);
    setRegisterFunc(nullptr);
    EngineTest::TearDown();
  }

  // The registry copy the dialog path starts from: the defaults of a new
  // ClientApp with the test's edit.
  void storeSettings(const std::function<void(ClientApp&)>& edit) {
    {
      ClientApp app("Explorer");
      edit(app);
      saveSettingsToRegistry(app);
    }
    // Its destructor wrote the settings file, which would win over the
    // registry when the engine creates the application.
    std::filesystem::remove(settingsFile());
  }
  // A text value of the registry copy as the engine reads it: up to its
  // terminating zero, credentials unscrambled.
  static std::string storedText(const std::string& value) {
    std::string raw = rawValue(value);
    raw = raw.substr(0, raw.find('\0'));
    if (value == "server" || raw.empty()) return raw;
    return unscrambleCredential(raw);
  }
  void useService(ClientApp& app) {
    app.server = "127.0.0.1/data";
    app.serverPort = service_->port();
    app.username = kUser;
  }
  void startService() {
    service_ = std::make_unique<testsupport::ServiceProcess>(prefix_.path());
    ASSERT_TRUE(service_->addUser(kUser, kPassword));
    ASSERT_TRUE(service_->start());
  }
  void putAtService(const std::vector<std::string>& list) {
    platform::HttpSession session("test", platform::InternetAccess::Direct);
    platform::HttpConnection connection(session, "127.0.0.1", service_->port());
    platform::HttpRequest request(connection, "PUT",
                                  "/data?user=alice&pass=s3cret%20pw&function=put", 0);
    ASSERT_EQ(request.send(listDocument(list)), "");
    ASSERT_EQ(request.statusCode(), 200u);
  }

  void queue(const std::vector<std::string>& actions) {
    for (const std::string& action : actions)
      ASSERT_EQ(platform::queueUserAction(action), "") << action;
  }

  struct Result {
    bool ok;
    std::string data;
    std::string error;
  };
  Result run(const std::string& input = listDocument({"local1"})) {
    Result result{false, input, "old error"};
    result.ok = Synchronize(true, "Explorer", &result.data, &result.error);
    EXPECT_EQ(result.ok, result.error.empty());
    return result;
  }

  // The controls as the lines up to (not including) line `end` show them.
  std::map<int, ControlState> controlsBefore(size_t end) const {
    std::map<int, ControlState> controls;
    for (size_t i = 0; i < end && i < lines_.size(); ++i) {
      const std::string& line = lines_[i];
      if (line.rfind("control window=", 0) != 0) continue;
      ControlState state;
      state.line = line;
      // The text as printed (escapes kept); the fields after it.
      size_t rest = 0;
      const std::string textKey = " text=\"";
      if (size_t at = line.find(textKey); at != std::string::npos) {
        size_t pos = at + textKey.size();
        while (pos < line.size() && line[pos] != '"') pos += line[pos] == '\\' ? 2 : 1;
        state.text = line.substr(at + textKey.size(), pos - at - textKey.size());
        rest = pos;
      }
      state.value = wordAfter(line, "value", rest);
      state.enabled = wordAfter(line, "enabled", rest) == "1";
      state.visible = wordAfter(line, "visible", rest) == "1";
      controls[std::stoi(wordAfter(line, "id"))] = state;
    }
    return controls;
  }
  // The word after " key=" at or after `from`, up to the next space.
  static std::string wordAfter(const std::string& line, const std::string& key, size_t from = 0) {
    const size_t at = line.find(" " + key + "=", from);
    if (at == std::string::npos) return "";
    const size_t begin = at + key.size() + 2;
    return line.substr(begin, line.find(' ', begin) - begin);
  }
  std::map<int, ControlState> controls() const { return controlsBefore(lines_.size()); }
  // Indexes of the lines that start with the text.
  std::vector<size_t> linesStarting(const std::string& start) const {
    std::vector<size_t> found;
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].rfind(start, 0) == 0) found.push_back(i);
    }
    return found;
  }
  std::vector<std::string> messageBoxes() const {
    std::vector<std::string> boxes;
    for (size_t i : linesStarting("messagebox ")) {
      std::string box = lines_[i];
      box = box.substr(0, box.find(" owner="));
      boxes.push_back(box);
    }
    return boxes;
  }
  std::string dump() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

  std::unique_ptr<ScopedEnv> ui_;
  testsupport::NoProxyEnvironment noProxy_;
  std::unique_ptr<testsupport::ServiceProcess> service_;
  std::vector<std::string> lines_;
};

std::string box(const std::string& caption, const std::string& text, const std::string& icon) {
  return "messagebox caption=\"" + caption + "\" text=\"" + text + "\" buttons=ok icon=" + icon;
}

// ------------------------------------------------------------- the resource

TEST(SyncOptionsResource, ControlsAsTheResourceScriptHasThem) {
  const platform::DialogTemplate& t = syncOptionsDialogTemplate();
  EXPECT_EQ(t.id, 2000);
  EXPECT_EQ(t.caption, "Quorvane");
  EXPECT_EQ(t.rect, (platform::Rect{0, 0, 236, 217}));
  EXPECT_EQ(t.font, "MS Sans Serif");
  EXPECT_EQ(t.fontSize, 8);
  const uint32_t frame =
      platform::kWsPopup | platform::kWsCaption | platform::kWsSysMenu | platform::kDsModalFrame;
  EXPECT_EQ(t.style & frame, frame);
  EXPECT_EQ(t.style & platform::kWsThickFrame, 0u);
  EXPECT_EQ(t.closeControlId, 1);

  using K = platform::ControlKind;
  struct Row {
    int id;
    K kind;
    const char* text;
    int x, y, width, height;
    uint32_t style;  // styles that must be set
  };
  const uint32_t edit = platform::kWsBorder | platform::kEsAutoHScroll;
  const uint32_t password = edit | platform::kEsPassword;
  const uint32_t right = platform::kSsRight;
  const uint32_t spin = platform::kUdsSetBuddyInt | platform::kUdsAlignRight |
                        platform::kUdsAutoBuddy | platform::kUdsArrowKeys;
  const Row rows[] = {
      {-1, K::GroupBox, "User settings", 8, 4, 221, 106, 0},
      {2017, K::CheckBox, "Enabled", 17, 14, 42, 10, kBsAutoCheckBox},
      {-1, K::Static, "Username:", 17, 26, 53, 12, right},
      {2004, K::Edit, "", 77, 26, 78, 14, edit},
      {-1, K::Static, "Password:", 17, 42, 53, 12, right},
      {2005, K::Edit, "", 77, 42, 78, 14, password},
      {2010, K::CheckBox, "Auto synchronization", 17, 62, 81, 10, kBsAutoCheckBox},
      {-1, K::Static, "Sync period:", 25, 74, 53, 12, right},
      {2006, K::Edit, "", 85, 74, 38, 14, edit},
      {2007, K::UpDown, "", 121, 74, 11, 14, spin},
      {-1, K::Static, "(min)", 133, 74, 23, 16, 0},
      {2008, K::CheckBox, "Sync after start", 17, 94, 63, 10, kBsAutoCheckBox},
      {2009, K::CheckBox, "Sync before exit", 85, 94, 67, 10, kBsAutoCheckBox},
      {-1, K::GroupBox, "Proxy settings", 9, 114, 220, 64, 0},
      {2014, K::CheckBox, "Proxy authentication", 17, 126, 111, 10, kBsAutoCheckBox},
      {-1, K::Static, "Proxy Username:", 17, 142, 53, 12, right},
      {2015, K::Edit, "", 77, 142, 78, 14, edit},
      {-1, K::Static, "Proxy Password:", 17, 158, 53, 12, right},
      {2016, K::Edit, "", 77, 158, 78, 14, password},
      {2019, K::CheckBox, "Display icon in the system tray when there is an error", 8, 180, 180, 10,
       kBsAutoCheckBox},
      {2018, K::PushButton, "Register", 8, 196, 68, 16, 0},
      {2002, K::PushButton, "&Synchronize now", 84, 196, 68, 16, 0},
      {1, K::DefPushButton, "Close", 160, 196, 68, 16, kBsDefPushButton},
  };
  ASSERT_EQ(t.controls.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    const platform::ControlTemplate& c = t.controls[i];
    SCOPED_TRACE(std::to_string(row.id) + " " + row.text);
    EXPECT_EQ(c.id, row.id);
    EXPECT_EQ(c.kind, row.kind);
    EXPECT_EQ(c.text, row.text);
    EXPECT_EQ(c.rect, (platform::Rect{row.x, row.y, row.x + row.width, row.y + row.height}));
    EXPECT_EQ(c.style & row.style, row.style);
    EXPECT_EQ(c.style & platform::kEsPassword, row.style & platform::kEsPassword);
  }
}

TEST(SyncOptionsNumber, PeriodTextAsTheDataExchangeReadsIt) {
  struct Row {
    const char* text;
    bool ok;
    uint32_t value;
  };
  const Row rows[] = {
      {"15", true, 15},
      {"  30\t", true, 30},
      {"+7", true, 7},
      {"0", true, 0},
      {"4294967295", true, 4294967295u},
      {"4294967296", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"-1", false, 0},
      {"12abc", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
      {"+", false, 0},
      {"\n5", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("\"") + row.text + "\"");
    uint32_t value = 12345;
    EXPECT_EQ(parseDialogNumber(row.text, &value), row.ok);
    EXPECT_EQ(value, row.ok ? row.value : 12345u);
  }
}

// ------------------------------------------------------------- showing it

TEST_F(OptionsDialogTest, ConsoleShowsTheDialogAndPressesClose) {
  ScopedEnv console("QUORVANE_UI", "console");
  const Result result = run();
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(result.error, "");
  ASSERT_EQ(linesStarting("dialog show ").size(), 1u) << dump();
  EXPECT_NE(lines_[linesStarting("dialog show ")[0]].find("template=2000 caption=\"Quorvane\""),
            std::string::npos);
  EXPECT_EQ(linesStarting("control ").size(), syncOptionsDialogTemplate().controls.size())
      << dump();
  ASSERT_EQ(linesStarting("user click ").size(), 1u);
  EXPECT_NE(lines_[linesStarting("user click ")[0]].find(" id=1 (nobody answers)"),
            std::string::npos);
  ASSERT_EQ(linesStarting("dialog end ").size(), 1u);
  EXPECT_NE(lines_[linesStarting("dialog end ")[0]].find(" result=1"), std::string::npos);
  EXPECT_TRUE(messageBoxes().empty()) << dump();
}

TEST_F(OptionsDialogTest, InitialisationWritesTheSettingsIntoTheControls) {
  storeSettings([](ClientApp& app) {
    app.username = "bob";
    app.password = "pw\xe9";  // one character in code page 1252
    app.syncAuto = 1;
    app.syncPeriod = 45;
    app.syncAfterStart = 1;
    app.syncBeforeExit = 0;
    app.proxyAuth = 0;
    app.proxyUsername = "proxyman";
    app.errorIcon = 0;
  });
  queue({"escape"});
  const Result result = run();
  EXPECT_TRUE(result.ok);
  const auto c = controls();
  struct Row {
    int id;
    const char* text;
    const char* value;
    bool enabled;
  };
  const Row rows[] = {
      {2017, "Enabled", "1", true},
      {2004, "bob", "", true},
      {2005, "***", "", true},
      {2010, "Auto synchronization", "1", true},
      {2006, "45", "", true},
      {2008, "Sync after start", "1", true},
      {2009, "Sync before exit", "0", true},
      {2014, "Proxy authentication", "0", true},
      {2015, "proxyman", "", false},
      {2016, "", "", false},
      {2019, "Display icon in the system tray when there is an error", "0", true},
      {2002, "&Synchronize now", "", true},
      {1, "Close", "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    ASSERT_TRUE(c.count(row.id));
    EXPECT_EQ(c.at(row.id).text, row.text);
    EXPECT_EQ(c.at(row.id).value, row.value);
    EXPECT_EQ(c.at(row.id).enabled, row.enabled);
  }
  EXPECT_NE(c.at(2007).line.find(" range=1..32767 buddy=2006 enabled=1"), std::string::npos)
      << c.at(2007).line;
  // No register callback: the button is there but hidden.
  EXPECT_FALSE(c.at(2018).visible);
  EXPECT_TRUE(c.at(2018).enabled);
}

TEST_F(OptionsDialogTest, RegisterIsShownWithACallbackAndCallsIt) {
  SetRegisterFunc(countRegisterCall);
  g_registerCalls = 0;
  queue({"click 2018", "click 2018", "escape"});
  run();
  EXPECT_TRUE(controls().at(2018).visible);
  EXPECT_EQ(g_registerCalls, 2);

  // Without it the click cannot reach the button.
  SetRegisterFunc(nullptr);
  lines_.clear();
  queue({"click 2018", "escape"});
  run();
  EXPECT_FALSE(controls().at(2018).visible);
  EXPECT_EQ(linesStarting("user click window=").size(), 1u);
  EXPECT_NE(dump().find("id=2018 ignored (disabled or hidden)"), std::string::npos) << dump();
  EXPECT_EQ(g_registerCalls, 2);
}

// ------------------------------------------------------------- enabled states

TEST_F(OptionsDialogTest, EnabledStatesFollowTheThreeCheckBoxes) {
  storeSettings([](ClientApp& app) {
    app.enabled = 0;
    app.syncAuto = 1;
    app.proxyAuth = 0;
  });
  const std::vector<std::string> steps = {"click 2017", "click 2014", "click 2010",
                                          "click 2014", "click 2010", "click 2017"};
  queue(steps);
  queue({"escape"});
  run();

  // Enabled states of 2015/2016, 2006, the controls that follow "Enabled",
  // and the ones never changed; first as shown, then after each click.
  struct Row {
    const char* after;
    bool proxyFields, period, followers;
  };
  const Row rows[] = {
      {"shown", false, false, false},
      {"tick Enabled", false, true, true},
      {"tick Proxy auth", true, true, true},
      {"untick Auto sync", true, false, true},
      {"untick Proxy auth", false, false, true},
      {"tick Auto sync", false, true, true},
      {"untick Enabled", false, false, false},
  };
  std::vector<size_t> marks = linesStarting("user click ");
  ASSERT_EQ(marks.size(), steps.size()) << dump();
  marks.push_back(linesStarting("user escape ").at(0));
  ASSERT_EQ(std::size(rows), marks.size());
  for (size_t i = 0; i < marks.size(); ++i) {
    SCOPED_TRACE(rows[i].after);
    const auto c = controlsBefore(marks[i]);
    EXPECT_EQ(c.at(2015).enabled, rows[i].proxyFields);
    EXPECT_EQ(c.at(2016).enabled, rows[i].proxyFields);
    EXPECT_EQ(c.at(2006).enabled, rows[i].period);
    for (int id : {2014, 2010, 2008, 2009, 2004, 2005, 2002, 2019}) {
      EXPECT_EQ(c.at(id).enabled, rows[i].followers) << id;
    }
    for (int id : {2017, 2007, 2018, 1}) EXPECT_TRUE(c.at(id).enabled) << id;
  }
  // The cancel code reads nothing, but every click did, and the path writes
  // the settings: "Enabled" was unticked last, proxy authentication is off.
  EXPECT_EQ(dwordValue("enabled"), 0u);
  EXPECT_EQ(dwordValue("proxy_auth"), 0u);
  EXPECT_EQ(dwordValue("sync_auto"), 1u);
}

// ------------------------------------------------------------- what the host receives

TEST_F(OptionsDialogTest, ClosedWithoutAPressGivesNothingAndSucceeds) {
  queue({"type 2004 carol", "click 2009", "click 1"});
  const Result result = run();
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(result.error, "");
  EXPECT_TRUE(messageBoxes().empty()) << dump();
  EXPECT_NE(lines_[linesStarting("dialog end ").at(0)].find(" result=1"), std::string::npos);
  // "Close" read the controls, and the settings reached the registry.
  EXPECT_EQ(storedText("username"), "carol");
  EXPECT_EQ(dwordValue("sync_beforeexit"), 0u);
}

TEST_F(OptionsDialogTest, CloseWithAnEmptyUserNameWarnsAndClosesAnyway) {
  queue({"type 2004 \"\"", "click 1"});
  const Result result = run();
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(
      messageBoxes(),
      (std::vector<std::string>{box("Settings Error",
                                    "Username should not be empty.\\nPlease, use \\\"Synchronize "
                                    "now\\\" button to test",
                                    "warning")}))
      << dump();
  EXPECT_NE(lines_[linesStarting("dialog end ").at(0)].find(" result=1"), std::string::npos);
  EXPECT_EQ(rawValue("username"), std::string(1, '\0'));
  EXPECT_NE(logText().find(": Explorer: Can't set proxy settings, because validation has been "
                           "failed: Username should not be empty..\n"),
            std::string::npos);
}

TEST_F(OptionsDialogTest, LastPressFailingInTheProcedureGivesItsError) {
  // Nothing listens on port 9 of the loopback interface.
  storeSettings([](ClientApp& app) {
    app.server = "127.0.0.1/data";
    app.serverPort = 9;
  });
  queue({"click 2002", "click 1"});
  const std::string input = listDocument({"local1"});
  const Result result = run(input);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, "");
  EXPECT_NE(result.error, "old error");
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(messageBoxes(),
            (std::vector<std::string>{box("Error while synchronization", result.error, "error")}))
      << dump();
  // The wait cursor covers the procedure and its box; the button stays usable.
  const auto waits = linesStarting("cursor wait");
  const auto arrows = linesStarting("cursor arrow");
  ASSERT_EQ(waits.size(), 1u);
  ASSERT_EQ(arrows.size(), 1u);
  EXPECT_LT(waits[0], linesStarting("messagebox ").at(0));
  EXPECT_GT(arrows[0], linesStarting("messagebox ").at(0));
  EXPECT_TRUE(controls().at(2002).enabled);
}

TEST_F(OptionsDialogTest, EmptyServerFailsEveryPressWithTheValidationMessage) {
  storeSettings([](ClientApp& app) { app.server.clear(); });
  queue({"click 2002", "type 2004 bob", "type 2005 secret", "click 2002", "click 1"});
  const Result result = run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "Server should not be empty.");
  EXPECT_EQ(result.data, "");
  const std::string press = box("Settings Error", "Server should not be empty.", "warning");
  const std::string close = box("Settings Error",
                                "Server should not be empty.\\nPlease, use \\\"Synchronize now\\\" "
                                "button to test",
                                "warning");
  EXPECT_EQ(messageBoxes(), (std::vector<std::string>{press, press, close})) << dump();
  EXPECT_EQ(storedText("username"), "bob");
  EXPECT_EQ(storedText("server"), "");
}

TEST_F(OptionsDialogTest, FailedPressThenSuccessfulPressGivesTheSecondDocument) {
  startService();
  putAtService({"server1"});
  storeSettings([this](ClientApp& app) {
    useService(app);
    app.password = "wrong";
  });
  queue({"click 2002", "type 2005 s3cret pw", "click 2002",
         // The button stays disabled, whatever the check boxes say.
         "click 2017", "click 2017", "click 2002", "click 1"});
  const Result result = run(listDocument({"local1"}));
  ASSERT_TRUE(result.ok) << result.error << dump();
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(bookmarkNames(result.data), (std::vector<std::string>{"local1", "server1"}));
  const auto boxes = messageBoxes();
  ASSERT_EQ(boxes.size(), 2u) << dump();
  EXPECT_EQ(boxes[0].rfind("messagebox caption=\"Error while synchronization\"", 0), 0u)
      << boxes[0];
  EXPECT_EQ(
      boxes[1],
      box("Information", "Synchronization completed successfully. Press \\\"Close\\\" to continue.",
          "information"));
  EXPECT_FALSE(controls().at(2002).enabled);
  EXPECT_NE(dump().find("id=2002 ignored (disabled or hidden)"), std::string::npos);
  EXPECT_EQ(linesStarting("cursor wait").size(), 2u);
  // The password typed in the dialog is what the registry now holds.
  EXPECT_EQ(storedText("password"), kPassword);
}

TEST_F(OptionsDialogTest, SuccessfulPressWithNothingToApplyGivesAnEmptyDocument) {
  startService();
  putAtService({"same"});
  storeSettings([this](ClientApp& app) {
    useService(app);
    app.password = kPassword;
  });
  queue({"click 2002", "click 1"});
  const Result result = run(listDocument({"same"}));
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(messageBoxes().size(), 1u);
  EXPECT_NE(messageBoxes().at(0).find("caption=\"Information\""), std::string::npos) << dump();
}

TEST_F(OptionsDialogTest, LaterFailedPressReplacesAnEarlierFailure) {
  // A procedure failure, then a validation failure: the host sees the last.
  storeSettings([](ClientApp& app) {
    app.server = "127.0.0.1/data";
    app.serverPort = 9;
  });
  queue({"click 2002", "type 2004 \"\"", "click 2002", "click 1"});
  const Result result = run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "Username should not be empty.");
  EXPECT_EQ(result.data, "");
}

// ------------------------------------------------------------- closing otherwise

TEST_F(OptionsDialogTest, DeactivationAndTheSystemMenuKeepTheLastRead) {
  for (const char* how : {"deactivate", "close", "escape"}) {
    SCOPED_TRACE(how);
    lines_.clear();
    storeSettings([](ClientApp& app) {
      app.username = "alice";
      app.syncAuto = 1;
    });
    // The click reads every control (the user name too); the later typing
    // is never read.
    queue({"type 2004 bob", "click 2010", "type 2004 carol", how});
    const Result result = run();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.data, "");
    ASSERT_EQ(linesStarting("dialog end ").size(), 1u) << dump();
    EXPECT_NE(lines_[linesStarting("dialog end ")[0]].find(" result=2"), std::string::npos)
        << dump();
    EXPECT_EQ(dwordValue("sync_auto"), 0u);
    EXPECT_EQ(storedText("username"), "bob");
  }
}

TEST_F(OptionsDialogTest, DeactivationWhileAPressShowsItsBoxKeepsTheDialog) {
  // The system deactivates a dialog while a box it owns has the focus; the
  // script backend does not, so the test delivers that notification itself.
  storeSettings([](ClientApp& app) {
    app.server = "127.0.0.1/data";
    app.serverPort = 9;
  });
  CSyncOptionsDlg dialog("Explorer", listDocument({"local1"}));
  std::vector<int32_t> idleAtBoxes;
  platform::setUiOutput([&](std::string_view line) {
    lines_.emplace_back(line);
    const size_t owner = line.find(" owner=");
    if (line.rfind("messagebox ", 0) != 0 || owner == std::string_view::npos) return;
    idleAtBoxes.push_back(dialog.idle);
    const auto handle =
        static_cast<platform::WindowHandle>(std::stoul(std::string(line.substr(owner + 7))));
    if (platform::Dialog* shown = platform::findDialog(handle)) dialog.onActivate(*shown, false);
  });
  queue({"click 2002", "click 1"});
  EXPECT_EQ(dialog.runModal(), platform::kIdOk);
  EXPECT_EQ(idleAtBoxes, (std::vector<int32_t>{0}));
  EXPECT_EQ(dialog.idle, 1);
  EXPECT_NE(dialog.dialogError, "");
  platform::setUiOutput(nullptr);  // the sink refers to this test's locals
}

TEST_F(OptionsDialogTest, PeriodThatIsNoNumberKeepsTheDialogOpen) {
  storeSettings([](ClientApp& app) { app.syncPeriod = 15; });
  queue({"type 2006 soon", "click 1", "type 2006 30", "click 1"});
  const Result result = run();
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(
      messageBoxes(),
      (std::vector<std::string>{box("Quorvane", "Please enter a positive integer.", "warning")}))
      << dump();
  ASSERT_EQ(linesStarting("dialog end ").size(), 1u);
  EXPECT_GT(linesStarting("dialog end ")[0], linesStarting("user type ").back());
  EXPECT_EQ(dwordValue("sync_period"), 30u);
}

TEST_F(OptionsDialogTest, SpinMovesThePeriodWithinItsRange) {
  storeSettings([](ClientApp& app) { app.syncPeriod = 32766; });
  queue({"spin 2007 5", "click 1"});
  run();
  EXPECT_EQ(dwordValue("sync_period"), 32767u);
}

}  // namespace
}  // namespace corvex
