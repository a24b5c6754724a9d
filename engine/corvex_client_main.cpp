// corvex-client: calls the engine's exported functions, one command per line
// of standard input, as a host would. It includes only engine/corvex.h and
// links only libcorvex.so, so it also shows that the exports are complete.
//
// Each command answers with one line that starts with "= " (the engine's log
// also goes to standard output, with its own prefix):
//   Synchronize SHOWDIALOG NAME [DATA]  = <true|false> data=<DATA> error=<TEXT>
//   SyncEnabled NAME RELOAD             = <true|false>
//   SyncAfterStart|SyncBeforeExit|SyncAuto NAME      = <true|false>
//   SetSyncAuto NAME VALUE              = done
//   SyncInterval|GetInstanceCount|ShowErrorIcon NAME = <number>
//   InitInstanceCount|IncInstanceCount|DecInstanceCount NAME = done
//   SetRegisterFunc <0|1>               = done   (1: a function that prints "register called")
//   quit                                ends the program (so does end of input)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/corvex.h"

namespace {

void onRegister() { std::cout << "register called" << std::endl; }

const char* boolText(bool value) { return value ? "true" : "false"; }

void usage() {
  std::cout << "usage: corvex-client [--help]\n"
               "Reads commands from standard input, one per line, calls the engine's\n"
               "exported function of that name and prints one answer line starting with \"= \".\n"
               "Commands: Synchronize SHOWDIALOG NAME [DATA], SyncEnabled NAME RELOAD,\n"
               "SyncAfterStart NAME, SyncBeforeExit NAME, SyncAuto NAME, SetSyncAuto NAME VALUE,\n"
               "SyncInterval NAME, InitInstanceCount NAME, IncInstanceCount NAME,\n"
               "DecInstanceCount NAME, GetInstanceCount NAME, ShowErrorIcon NAME,\n"
               "SetRegisterFunc 0|1, quit. Numbers and flags are decimal (0 is false).\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
      usage();
      return 0;
    }
    std::cerr << "corvex-client: unknown argument " << argv[1] << " (see --help)\n";
    return 2;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command, name;
    in >> command;
    if (command.empty()) continue;
    if (command == "quit") break;
    std::ostringstream answer;
    if (command == "Synchronize") {
      int showDialog = 0;
      std::string data;
      in >> showDialog >> name >> data;
      std::string error = "unset";
      bool ok = Synchronize(showDialog != 0, name, &data, &error);
      answer << boolText(ok) << " data=" << data << " error=" << error;
    } else if (command == "SetRegisterFunc") {
      int set = 0;
      in >> set;
      SetRegisterFunc(set ? onRegister : nullptr);
      answer << "done";
    } else {
      in >> name;
      long value = 0;
      in >> value;
      if (command == "SyncEnabled") {
        answer << boolText(SyncEnabled(name, value != 0));
      } else if (command == "SyncAfterStart") {
        answer << boolText(SyncAfterStart(name));
      } else if (command == "SyncBeforeExit") {
        answer << boolText(SyncBeforeExit(name));
      } else if (command == "SyncAuto") {
        answer << boolText(SyncAuto(name));
      } else if (command == "SetSyncAuto") {
        SetSyncAuto(name, static_cast<int>(value));
        answer << "done";
      } else if (command == "SyncInterval") {
        answer << SyncInterval(name);
      } else if (command == "InitInstanceCount") {
        InitInstanceCount(name);
        answer << "done";
      } else if (command == "IncInstanceCount") {
        IncInstanceCount(name);
        answer << "done";
      } else if (command == "DecInstanceCount") {
        DecInstanceCount(name);
        answer << "done";
      } else if (command == "GetInstanceCount") {
        answer << GetInstanceCount(name);
      } else if (command == "ShowErrorIcon") {
        answer << ShowErrorIcon(name);
      } else {
        answer << "unknown command " << command;
      }
    }
    std::cout << "= " << answer.str() << std::endl;
  }
  return 0;
}
