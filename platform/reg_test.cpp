// The reg console tool, run as a program on a temporary prefix.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

struct RegRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

RegRun runReg(const std::vector<std::string>& args, const std::string& input = "") {
  testsupport::TempDir io;
  writeWholeFile(io.path() / "in", input);
  pid_t pid = fork();
  if (pid == 0) {
    int in = ::open((io.path() / "in").c_str(), O_RDONLY);
    int out = ::open((io.path() / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open((io.path() / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUORVANE_REG_TOOL));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(QUORVANE_REG_TOOL, argv.data());
    _exit(127);
  }
  RegRun run;
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  readWholeFile(io.path() / "out", &run.out);
  readWholeFile(io.path() / "err", &run.err);
  return run;
}

const std::string kKey = "HKCU\\Software\\Veltrane Inc.\\Quorvane\\Explorer";

TEST(RegTool, AddsValuesThatTheRegistryReadsBack) {
  testsupport::TempPrefix prefix;
  struct Row {
    std::vector<std::string> args;
    const char* name;
    uint32_t type;
    std::string bytes;
  } rows[] = {
      {{"/v", "server", "/d", "example.org/data"}, "server", kRegSz, std::string("example.org/data\0", 17)},
      {{"/v", "server_port", "/t", "REG_DWORD", "/d", "8080"}, "server_port", kRegDword,
       std::string("\x90\x1F\0\0", 4)},
      {{"/v", "inscount", "/t", "reg_dword", "/d", "0xFFFFFFFF"}, "inscount", kRegDword,
       std::string("\xFF\xFF\xFF\xFF", 4)},
      {{"/v", "Order", "/t", "REG_BINARY", "/d", "0800FFab"}, "Order", kRegBinary,
       std::string("\x08\x00\xFF\xAB", 4)},
      {{"/ve", "/d", "Caf\xC3\xA9"}, "", kRegSz, std::string("Caf\xE9\0", 5)},  // stored in 1252
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> args = {"add", kKey};
    args.insert(args.end(), row.args.begin(), row.args.end());
    RegRun run = runReg(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "The operation completed successfully.\n");
    RegKey key;
    ASSERT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\Veltrane Inc.\\Quorvane\\Explorer", &key), kOk);
    RegValue value;
    ASSERT_EQ(key.readValue(row.name, &value), kOk);
    EXPECT_EQ(value.type, row.type);
    EXPECT_EQ(value.data, row.bytes);
  }
  RegRun bad = runReg({"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "0x1FFFFFFFF"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("ERROR:"), std::string::npos);
}

TEST(RegTool, QueryPrintsAsTheWindowsToolDoes) {
  testsupport::TempPrefix prefix;
  RegKey key, sub;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\Q", &key), kOk);
  ASSERT_EQ(key.setString("server", "example.org"), kOk);
  ASSERT_EQ(key.setDword("sync_period", 15), kOk);
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\Q\\Sub", &sub), kOk);

  RegRun all = runReg({"query", "HKCU\\Software\\Q"});
  EXPECT_EQ(all.exitCode, 0);
  EXPECT_EQ(all.out,
            "\nHKEY_CURRENT_USER\\Software\\Q\n"
            "    server    REG_SZ    example.org\n"
            "    sync_period    REG_DWORD    0xf\n"
            "\nHKEY_CURRENT_USER\\Software\\Q\\Sub\n\n");
  RegRun one = runReg({"query", "HKEY_CURRENT_USER\\Software\\Q", "/v", "SERVER"});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(one.out, "\nHKEY_CURRENT_USER\\Software\\Q\n    server    REG_SZ    example.org\n\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"query", "HKCU\\Software\\Missing"},
        std::vector<std::string>{"query", "HKCU\\Software\\Q", "/v", "missing"}}) {
    RegRun missing = runReg(args);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              "ERROR: The system was unable to find the specified registry key or value.\n");
  }
  EXPECT_EQ(runReg({"query", "HKXX\\Software"}).exitCode, 1);
}

TEST(RegTool, DeleteAsksUnlessForced) {
  testsupport::TempPrefix prefix;
  RegKey key, sub;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\D\\Sub", &sub), kOk);
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\D", &key), kOk);
  ASSERT_EQ(key.setDword("a", 1), kOk);
  ASSERT_EQ(key.setDword("b", 2), kOk);

  RegRun declined = runReg({"delete", "HKCU\\Software\\D", "/v", "a"}, "n\n");
  EXPECT_EQ(declined.exitCode, 1);
  RegValue value;
  EXPECT_EQ(key.readValue("a", &value), kOk);
  RegRun agreed = runReg({"delete", "HKCU\\Software\\D", "/v", "a"}, "yes\n");
  EXPECT_EQ(agreed.exitCode, 0);
  EXPECT_EQ(key.readValue("a", &value), kFileNotFound);
  EXPECT_EQ(runReg({"delete", "HKCU\\Software\\D", "/v", "a", "/f"}).exitCode, 1);

  EXPECT_EQ(runReg({"delete", "HKCU\\Software\\D", "/f"}).exitCode, 0);
  EXPECT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\D\\Sub", &sub), kFileNotFound);
  EXPECT_EQ(RegKey::open(RegRoot::CurrentUser, "Software\\D", &sub), kFileNotFound);
}

TEST(RegTool, ExportWritesARegFile) {
  testsupport::TempPrefix prefix;
  RegKey key, sub;
  ASSERT_EQ(RegKey::create(RegRoot::ClassesRoot, "CLSID\\{A}", &key), kOk);
  ASSERT_EQ(key.setString("", "IEBookmark \"x\""), kOk);
  ASSERT_EQ(key.setDword("n", 0x1F90), kOk);
  ASSERT_EQ(key.setValue("o", kRegBinary, "\x01\xFF", 2), kOk);
  ASSERT_EQ(RegKey::create(RegRoot::ClassesRoot, "CLSID\\{A}\\InprocServer32", &sub), kOk);
  ASSERT_EQ(sub.setString("", "C:\\x.dll"), kOk);
  ASSERT_EQ(sub.setValue("e", kRegExpandSz, "%P%\0", 4), kOk);

  auto file = prefix.path() / "out.reg";
  RegRun run = runReg({"export", "HKCR\\CLSID\\{A}", file.string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::string text;
  ASSERT_TRUE(readWholeFile(file, &text));
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{A}]\r\n"
            "@=\"IEBookmark \\\"x\\\"\"\r\n"
            "\"n\"=dword:00001f90\r\n"
            "\"o\"=hex:01,ff\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{A}\\InprocServer32]\r\n"
            "@=\"C:\\\\x.dll\"\r\n"
            "\"e\"=hex(2):25,50,25,00\r\n\r\n");
  EXPECT_EQ(runReg({"export", "HKCR\\CLSID\\{A}", file.string()}, "no\n").exitCode, 1);
  EXPECT_EQ(runReg({"export", "HKCR\\CLSID\\{A}", file.string(), "/y"}).exitCode, 0);
}

TEST(RegTool, HelpAndBadUsage) {
  RegRun help = runReg({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("reg query KEY"), std::string::npos);
  EXPECT_EQ(runReg({}).exitCode, 1);
  EXPECT_EQ(runReg({"frobnicate", "HKCU\\x"}).exitCode, 1);
  EXPECT_EQ(runReg({"add", "HKCU\\x", "/q"}).exitCode, 1);
}

}  // namespace
}  // namespace platform
