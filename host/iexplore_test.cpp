// End to end: regsvr32 registers the test server, iexplore.exe finds it
// through the registry, loads it, drives it and unloads it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/com.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "tests/support/temp_prefix.h"

namespace {

const std::filesystem::path kBin = QUORVANE_BIN_DIR;
const std::string kFakeClass = "{3C5B7A1E-9D2F-4B8A-8E61-0F4D2C7B9A10}";

struct Outcome {
  int status = -1;
  std::string output;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QUORVANE_CLOCK", "virtual", 1);
    unsetenv("QUORVANE_UI");
  }
  void TearDown() override {
    unsetenv("QUORVANE_CLOCK");
    unsetenv("QUORVANE_UI");
  }

  // Runs a program with `input` on its standard input; the library's path in
  // the output becomes LIB.
  Outcome run(const std::filesystem::path& program, const std::string& arguments,
              const std::string& input = "") {
    const auto in = dir_.path() / "input.txt";
    const auto out = dir_.path() / "output.txt";
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = "'" + program.string() + "' " + arguments + " < '" + in.string() +
                                "' > '" + out.string() + "' 2>&1";
    Outcome result;
    int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.output = readFile(out);
    const std::string lib = (kBin / "libfakeplugin.so").string();
    for (size_t at; (at = result.output.find(lib)) != std::string::npos;) {
      result.output.replace(at, lib.size(), "LIB");
    }
    return result;
  }
  Outcome regsvr32(const std::string& arguments) { return run(kBin / "regsvr32", arguments); }
  Outcome iexplore(const std::string& commands, const std::filesystem::path& program = {}) {
    return run(program.empty() ? kBin / "iexplore.exe" : program, "", commands);
  }
  void registerFake() {
    Outcome r = regsvr32("'" + (kBin / "libfakeplugin.so").string() + "'");
    ASSERT_EQ(r.status, 0) << r.output;
  }
  void useScript(const std::string& actions) {
    const auto path = dir_.path() / "actions.txt";
    std::ofstream(path) << actions;
    setenv("QUORVANE_UI", ("script:" + path.string()).c_str(), 1);
  }

  testsupport::TempPrefix prefix_;
  testsupport::TempDir dir_;
};

TEST_F(HostTest, Regsvr32RegistersAndUnregisters) {
  const std::string lib = "'" + (kBin / "libfakeplugin.so").string() + "'";
  Outcome r = regsvr32(lib);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "fakeplugin attach host=regsvr32 other\n"
            "fakeplugin registered\n"
            "fakeplugin detach objects=0\n"
            "regsvr32: DllRegisterServer in LIB succeeded.\n");
  platform::RegKey key;
  ASSERT_EQ(platform::RegKey::open(platform::RegRoot::ClassesRoot,
                                   "CLSID\\" + kFakeClass + "\\InprocServer32", &key),
            platform::kOk);
  platform::RegValue value;
  ASSERT_EQ(key.readValue("", &value), platform::kOk);
  EXPECT_EQ(value.data, (kBin / "libfakeplugin.so").string() + std::string(1, '\0'));

  EXPECT_EQ(regsvr32("/u " + lib).status, 0);
  r = regsvr32("/u " + lib);  // the keys are gone now
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.output.find("DllUnregisterServer in LIB failed. Return code was: 0x80040201"),
            std::string::npos);

  struct Row {
    std::string arguments;
    int status;
  } rows[] = {
      {"--help", 0},
      {"", 1},
      {"/x " + lib, 1},
      {"'" + (dir_.path() / "libnothing.so").string() + "'", 3},
      {"'" + (kBin / "libloadertest_engine.so").string() + "'", 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments);
    EXPECT_EQ(regsvr32(row.arguments).status, row.status);
  }
}

TEST_F(HostTest, BrowserSessionWithHelperObjectButtonTimerAndDialog) {
  registerFake();
  useScript("answer yes\ntype 11 hello\n");
  Outcome r = iexplore(
      "open\n"
      "ui click 10\n"
      "ui click 1\n"
      "press 1\n"
      "advance 45s\n"
      "close 1\n"
      "echo done\n");
  EXPECT_EQ(r.status, 0);
  const std::string c = kFakeClass;
  EXPECT_EQ(
      r.output,
      "start executable=\"iexplore.exe\" clock=virtual ui=script\n"
      "library load path=\"LIB\"\n"
      "fakeplugin attach host=iexplore.exe browser\n"
      "window open 1\n"
      "object create window=1 role=helper clsid=" +
          c +
          "\n"
          "fakeplugin setsite site\n"
          "object setsite window=1 role=helper clsid=" +
          c +
          " result=0x00000000\n"
          "button window=1 text=\"Favorites\" visible=1 clsid=" +
          c +
          "\n"
          "press window=1 button=\"Favorites\"\n"
          "object create window=1 role=button clsid=" +
          c +
          "\n"
          "fakeplugin setsite site\n"
          "object setsite window=1 role=button clsid=" +
          c +
          " result=0x00000000\n"
          "fakeplugin exec\n"
          "navigate window=1 url=\"http://localhost/registration.jsp?action=Navigation&param=0\"\n"
          "messagebox caption=\"Fake plugin\" text=\"Open the options?\" buttons=yesno "
          "icon=question owner=0 answer=yes\n"
          "dialog create window=1001 template=900 modal owner=0 caption=\"Fake options\"\n"
          "dialog show window=1001 template=900 caption=\"Fake options\" width=186 height=122\n"
          "control window=1001 id=10 kind=checkbox text=\"Enabled\" value=1 enabled=1 visible=1 "
          "rect=12,13,120,29\n"
          "control window=1001 id=11 kind=edit text=\"first\" enabled=1 visible=1 "
          "rect=12,35,165,58\n"
          "control window=1001 id=1 kind=defbutton text=\"OK\" enabled=1 visible=1 "
          "rect=90,68,165,91\n"
          "dialog activate window=1001 template=900\n"
          "user type window=1001 id=11 text=\"hello\"\n"
          "control window=1001 id=11 kind=edit text=\"hello\" enabled=1 visible=1 "
          "rect=12,35,165,58\n"
          "user click window=1001 id=10\n"
          "control window=1001 id=10 kind=checkbox text=\"Enabled\" value=0 enabled=1 visible=1 "
          "rect=12,13,120,29\n"
          "user click window=1001 id=1\n"
          "dialog end window=1001 template=900 result=1\n"
          "dialog destroy window=1001 template=900\n"
          "fakeplugin dialog result=1 check=0 text=hello\n"
          "exec window=1 button=\"Favorites\" status=0x00000000 flags=2 result=0x00000000\n"
          "fakeplugin timer tick=20000\n"
          "fakeplugin timer tick=40000\n"
          "clock tick=45000\n"
          "window close 1\n"
          "fakeplugin setsite null\n"
          "object setsite window=1 role=button clsid=" +
          c +
          " site=null result=0x00000000\n"
          "object release window=1 role=button clsid=" +
          c +
          " references=0\n"
          "fakeplugin setsite null\n"
          "object setsite window=1 role=helper clsid=" +
          c +
          " site=null result=0x00000000\n"
          "object release window=1 role=helper clsid=" +
          c +
          " references=0\n"
          "echo done\n"
          "library unload path=\"LIB\" canunloadnow=0x00000000\n"
          "fakeplugin detach objects=0\n"
          "quit\n");
}

TEST_F(HostTest, TheExecutableNameDecidesWhetherItIsTheBrowser) {
  registerFake();
  struct Row {
    const char* name;
    const char* attach;
    bool ticks;
  } rows[] = {
      {"IEXPLORE.EXE", "fakeplugin attach host=IEXPLORE.EXE browser\n", true},
      {"explorer.exe", "fakeplugin attach host=explorer.exe other\n", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto copy = dir_.path() / row.name;
    std::filesystem::copy_file(kBin / "iexplore.exe", copy,
                               std::filesystem::copy_options::overwrite_existing);
    Outcome r = iexplore("open\nadvance 20s\nquit\n", copy);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find(row.attach), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("fakeplugin timer") != std::string::npos, row.ticks) << r.output;
  }
}

TEST_F(HostTest, RealClockTimersFireWhileSleeping) {
  registerFake();
  unsetenv("QUORVANE_CLOCK");
  setenv("FAKEPLUGIN_TIMER_MS", "20", 1);
  Outcome r = iexplore("sleep 300ms\nadvance 1s\n");
  unsetenv("FAKEPLUGIN_TIMER_MS");
  EXPECT_EQ(r.status, 1);  // advance needs the virtual clock
  EXPECT_NE(r.output.find("clock=real"), std::string::npos);
  EXPECT_NE(r.output.find("fakeplugin timer tick="), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("error line=2 text=\"advance needs the virtual clock"),
            std::string::npos);
}

TEST_F(HostTest, NothingRegisteredAndBadCommands) {
  Outcome r = iexplore(
      "open\n"
      "press 1\n"
      "close 2\n"
      "advance soon\n"
      "ui click 1\n"
      "fly\n"
      "# a comment\n"
      "\n"
      "offline\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "start executable=\"iexplore.exe\" clock=virtual ui=console\n"
            "window open 1\n"
            "error line=2 text=\"window 1 has no button \\\"Favorites\\\"\"\n"
            "error line=3 text=\"no window 2\"\n"
            "error line=4 text=\"advance needs a duration such as 250ms, 20s, 5m or 1h\"\n"
            "error line=5 text=\"the console user interface takes no user actions\"\n"
            "error line=6 text=\"unknown command fly (see --help)\"\n"
            "connection offline\n"
            "window close 1\n"
            "quit\n");
  const auto marker = platform::prefixRoot() / "run" / "offline";
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_EQ(iexplore("online\n").status, 0);
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(run(kBin / "iexplore.exe", "--help").status, 0);
  EXPECT_EQ(run(kBin / "iexplore.exe", "--bogus").status, 2);
}

TEST_F(HostTest, BrokenRegistrationsAreReportedAndSkipped) {
  using platform::RegKey;
  using platform::RegRoot;
  const std::string missing = "{11111111-2222-3333-4444-555555555555}";
  const std::string helpers =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
  RegKey key;
  // A helper whose library does not exist, one without a class key, and a key
  // that is no class identifier.
  ASSERT_EQ(RegKey::create(RegRoot::ClassesRoot, "CLSID\\" + kFakeClass + "\\InprocServer32", &key),
            platform::kOk);
  key.setString("", (dir_.path() / "libgone.so").string());
  ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, helpers + kFakeClass, &key), platform::kOk);
  ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, helpers + missing, &key), platform::kOk);
  ASSERT_EQ(RegKey::create(RegRoot::LocalMachine, helpers + "junk", &key), platform::kOk);
  Outcome r = iexplore("open\n");
  EXPECT_EQ(r.status, 0);
  auto has = [&](const std::string& text) { return r.output.find(text) != std::string::npos; };
  EXPECT_TRUE(has("library error path=")) << r.output;
  EXPECT_TRUE(
      has("object error window=1 role=helper clsid=" + missing + " text=\"class not registered"))
      << r.output;
  EXPECT_TRUE(has("registry problem \"helper object key junk is not a class identifier\""));
  EXPECT_TRUE(has("window close 1\nquit\n")) << r.output;
}

}  // namespace

namespace {

TEST_F(HostTest, ProgramButtonsAreReportedAndPressedByText) {
  using platform::RegKey;
  using platform::RegRoot;
  const std::string extensions = "Software\\Microsoft\\Internet Explorer\\Extensions\\";
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::LocalMachine,
                           extensions + "{AAAAAAAA-0000-0000-0000-000000000001}", &key),
            platform::kOk);
  key.setString("ButtonText", "Notes");
  key.setString("Default Visible", "No");
  key.setString("Exec", "C:\\notes.exe");
  // Neither an object nor a program: skipped.
  ASSERT_EQ(RegKey::create(RegRoot::LocalMachine,
                           extensions + "{AAAAAAAA-0000-0000-0000-000000000002}", &key),
            platform::kOk);
  key.setString("ButtonText", "Empty");
  Outcome r = iexplore("open\npress 1\npress 1 Notes\n");
  EXPECT_EQ(r.status, 0);  // the only button is the default one
  EXPECT_EQ(r.output,
            "start executable=\"iexplore.exe\" clock=virtual ui=console\n"
            "window open 1\n"
            "button window=1 text=\"Notes\" visible=0 exec=\"C:\\\\notes.exe\"\n"
            "registry problem \"extension {AAAAAAAA-0000-0000-0000-000000000002} has neither "
            "ClsidExtension nor Exec\"\n"
            "press window=1 button=\"Notes\"\n"
            "exec window=1 button=\"Notes\" run=\"C:\\\\notes.exe\"\n"
            "press window=1 button=\"Notes\"\n"
            "exec window=1 button=\"Notes\" run=\"C:\\\\notes.exe\"\n"
            "window close 1\n"
            "quit\n");
}

}  // namespace
