// A randomized model test: three computers (browser stand-ins, each in its
// own prefix and behind a relay of its own) and one reference service. A
// seeded generator edits the Favorites as users would, runs the plug-in at
// start-up and on its timer, lets two runs overlap (one computer's download
// held in its relay while another runs from start to end), and runs with
// faults (a full disk, a denied file or a kill during an apply, a registry
// refusing writes, the service down). The model records what the users did.
// After each settle (every computer runs twice without faults) every computer
// and the service must hold the same list, no bookmark a user created and kept
// may be missing, and nothing a user deleted may be back, except where a rule
// of the merge named below says so.
//
// A failure prints the seed and the steps as a script;
// QUORVANE_MODEL_REPLAY=FILE runs that script instead of the seeds.
// QUORVANE_LONG_TESTS=1 runs 20 seeds of 1,000 steps instead of 3 of 150.
// QUORVANE_MODEL_WITHOUT=overlap,fault,emptying leaves those kinds of step out
// (to look past a fault already known); "emptying" is a deletion that leaves a
// computer's Favorites folder empty. QUORVANE_MODEL_VERBOSE=1 prints every step,
// the runs' requests and each computer's list (2: the runs' whole output).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tests/plugin_e2e_fixture.h"
#include "tests/support/relay.h"

namespace plugintest {
namespace {

using testsupport::HostComputer;
using testsupport::HostRun;

constexpr int kComputers = 3;
constexpr char kSession[] = "open\nui icon\nquit\n";
// Start-up run, then time enough for the timer's run.
constexpr char kTimerSession[] = "open\nadvance 16m\nui icon\nquit\n";
constexpr char kErrorIcon[] = "icon add";

// A list as the user sees it: folders by their path with a trailing slash
// ("f1/f4/"), bookmarks by their path ("f1/b7") with their link. Anything in
// the Favorites folder that is neither a folder nor a shortcut file is listed
// as "!" and its path, so that it shows up in every comparison.
using Tree = std::map<std::string, std::string>;

bool isFolderKey(const std::string& key) { return !key.empty() && key.back() == '/'; }

std::string nameOf(const std::string& key) {
  const std::string path = isFolderKey(key) ? key.substr(0, key.size() - 1) : key;
  return path.substr(path.rfind('/') + 1);
}

// "f1/" for "f1/b7" and for "f1/f4/", "" for an item of the root.
std::string parentOf(const std::string& key) {
  const std::string path = isFolderKey(key) ? key.substr(0, key.size() - 1) : key;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string shortcutLink(const std::filesystem::path& file) {
  std::istringstream in(readFile(file));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("URL=", 0) == 0) return line.substr(4);
  }
  return "";
}

Tree readFavorites(const std::filesystem::path& favorites) {
  Tree tree;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(favorites, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::string relative = std::filesystem::relative(it->path(), favorites).generic_string();
    if (it->is_directory()) {
      tree[relative + "/"] = "";
    } else if (relative.size() > 4 && relative.compare(relative.size() - 4, 4, ".url") == 0) {
      tree[relative.substr(0, relative.size() - 4)] = shortcutLink(it->path());
    } else {
      tree["!" + relative] = "";
    }
  }
  return tree;
}

std::string textOf(const xmlNode* element, const char* child) {
  for (const xmlNode* n = element->children; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, BAD_CAST child) == 0) {
      xmlChar* content = xmlNodeGetContent(n);
      std::string text = content ? reinterpret_cast<const char*>(content) : "";
      xmlFree(content);
      return text;
    }
  }
  return "";
}

void addItems(const xmlNode* container, const std::string& prefix, Tree* tree) {
  for (const xmlNode* n = container->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (xmlStrcmp(n->name, BAD_CAST "bookmark") == 0) {
      (*tree)[prefix + textOf(n, "name")] = textOf(n, "link");
    } else if (xmlStrcmp(n->name, BAD_CAST "folder") == 0) {
      const std::string key = prefix + textOf(n, "name") + "/";
      (*tree)[key] = "";
      for (const xmlNode* c = n->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, BAD_CAST "children") == 0)
          addItems(c, key, tree);
      }
    }
  }
}

// The list of an exchange document; "!unparsable" when it does not parse.
Tree parseList(const std::string& document) {
  Tree tree;
  xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "list.xml",
                              nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc || !xmlDocGetRootElement(doc)) {
    tree["!unparsable"] = document.substr(0, 200);
  } else {
    addItems(xmlDocGetRootElement(doc), "", &tree);
  }
  xmlFreeDoc(doc);
  return tree;
}

// The differences of two lists, one a line.
std::string differences(const Tree& a, const std::string& aName, const Tree& b,
                        const std::string& bName) {
  std::string text;
  for (const auto& [key, link] : a) {
    auto found = b.find(key);
    if (found == b.end()) {
      text += "  " + key + " only on " + aName + "\n";
    } else if (found->second != link) {
      text +=
          "  " + key + ": " + link + " on " + aName + ", " + found->second + " on " + bName + "\n";
    }
  }
  for (const auto& [key, link] : b) {
    if (!a.count(key)) text += "  " + key + " only on " + bName + "\n";
  }
  return text;
}

// The rules of the merge that let an outcome differ from what the users
// did last; each check that a rule relaxes names it.
enum class Rule {
  // An item deleted on one side is removed whatever the other side did to
  // it: an edit (a new link, a move there) does not save it.
  DeletionWinsOverEdit,
  // Any change in a computer's local list makes every local version win
  // over the server's version of the same items, so a newer link given on
  // another computer can give way to an older one.
  LocalVersionsWin,
  // A deleted folder is removed only with the contents the deleting side
  // knew; contents added elsewhere keep it.
  FolderKeptForNewContents,
  // After an apply that was not written ("lastsync" 0), the next run sends
  // the Favorites united with the cache: what the folder still held when
  // the apply failed, and what the user deleted there before that run,
  // comes back.
  RecoveryUnion,
  // Deleting the last items of a folder removes the folder with them (the
  // removal of listed items unlinks a folder it leaves empty).
  EmptiedFolderGoes,
};
constexpr const char* kRuleNames[] = {"deletion wins over an edit", "local versions win",
                                      "folder kept for new contents",
                                      "recovery union with the cache", "emptied folder goes"};

// One place where a user put an item.
struct Placement {
  bool alive = false;        // the last thing a user did to it was not a removal
  bool removed = false;      // a user removed it at some time
  bool mayComeBack = false;  // removed, and the recovery union may bring it back
  bool emptied = false;      // a folder from which a user removed an item at some time
  std::string link;          // the last link a user gave it there
};

class Model {
 public:
  void put(const std::string& key, const std::string& link) {
    Placement& p = placements_[key];
    p.alive = true;
    p.link = link;
    if (!isFolderKey(key)) links_[nameOf(key)].insert(link);
  }

  void remove(const std::string& key, bool recoveryPending) {
    Placement& p = placements_[key];
    p.alive = false;
    p.removed = true;
    if (recoveryPending) p.mayComeBack = true;
    for (std::string folder = parentOf(key); !folder.empty(); folder = parentOf(folder)) {
      placements_[folder].emptied = true;
    }
  }

  // The computer's folder still held these when its apply failed.
  void heldAtFailedApply(const Tree& tree) {
    for (const auto& item : tree) {
      auto found = placements_.find(item.first);
      if (found != placements_.end() && !found->second.alive) found->second.mayComeBack = true;
    }
  }

  // What the agreed list breaks of the model, one line each; counts the
  // rules that relaxed a check.
  std::string check(const Tree& list, std::map<Rule, int>* used) const {
    std::string problems;
    for (const auto& [key, p] : placements_) {
      if (!p.alive) continue;
      auto found = list.find(key);
      if (found == list.end()) {
        if (p.removed) {
          ++(*used)[Rule::DeletionWinsOverEdit];
        } else if (isFolderKey(key) && p.emptied) {
          // Contents it still had would be missed on their own.
          ++(*used)[Rule::EmptiedFolderGoes];
        } else {
          problems += "  lost: " + key + (isFolderKey(key) ? "" : " (" + p.link + ")") + "\n";
        }
        continue;
      }
      if (isFolderKey(key) || found->second == p.link) continue;
      if (links_.at(nameOf(key)).count(found->second)) {
        ++(*used)[p.removed ? Rule::DeletionWinsOverEdit : Rule::LocalVersionsWin];
      } else {
        problems += "  " + key + " has " + found->second +
                    ", a link no user gave it (last: " + p.link + ")\n";
      }
    }
    // Items below a folder come after it in the map: from the end, a
    // folder's contents are judged before the folder.
    std::set<std::string> allowed;
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      const std::string& key = it->first;
      auto found = placements_.find(key);
      if (found == placements_.end()) {
        problems += "  " + key + " is there, but no user put it there\n";
        continue;
      }
      const Placement& p = found->second;
      bool keep = p.alive;
      if (!keep && p.mayComeBack) {
        keep = true;
        ++(*used)[Rule::RecoveryUnion];
      }
      if (!keep && isFolderKey(key)) {
        auto below = allowed.lower_bound(key);
        if (below != allowed.end() && below->compare(0, key.size(), key) == 0) {
          keep = true;
          ++(*used)[Rule::FolderKeptForNewContents];
        }
      }
      if (keep) {
        allowed.insert(key);
      } else {
        problems += "  back after a user deleted it: " + key + "\n";
      }
    }
    return problems;
  }

 private:
  std::map<std::string, Placement> placements_;
  std::map<std::string, std::set<std::string>>
      links_;  // by bookmark name: every link users gave it
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// "/" in a step line is the root folder.
std::string folderWord(const std::string& key) { return key.empty() ? "/" : key; }
std::string folderKey(const std::string& word) { return word == "/" ? "" : word; }

bool longTests() {
  const char* value = std::getenv("QUORVANE_LONG_TESTS");
  return value && std::string(value) == "1";
}

class ModelTest : public PluginE2ETest {
 protected:
  struct Computer {
    std::unique_ptr<HostComputer> host;
    std::unique_ptr<testsupport::Relay> relay;
    testsupport::PluginSettings settings;
    bool recoveryPending = false;  // "lastsync" 0 after its last run
  };

  // Computers of a new account: each seed starts from nothing.
  void startComputers(const std::string& user) {
    ASSERT_TRUE(service_.addUser(user, kPassword));
    user_ = user;
    computers_.clear();
    model_ = Model();
    rulesUsed_.clear();
    hostRuns_ = settles_ = 0;
    for (int i = 0; i < kComputers; ++i) {
      Computer pc;
      pc.relay = std::make_unique<testsupport::Relay>(service_.port());
      ASSERT_NE(pc.relay->port(), 0);
      pc.settings = startupSettings();
      pc.settings.username = user;
      pc.settings.port = pc.relay->port();
      pc.host = computer(pc.settings);
      computers_.push_back(std::move(pc));
    }
    if (const char* without = std::getenv("QUORVANE_MODEL_WITHOUT")) without_ = without;
    const char* verbose = std::getenv("QUORVANE_MODEL_VERBOSE");
    verbose_ = verbose ? std::atoi(verbose) : 0;
    names_ = links_ = 0;
  }

  // Runs one script of steps; false after the first step whose checks
  // failed (the failure and the script so far are reported).
  // Runs one step and, when asked, prints every computer's list after it;
  // a failing step prints its problems with the steps done so far.
  bool runStep(const std::string& step, const std::string& title, std::vector<std::string>* done) {
    done->push_back(step);
    if (verbose_) std::printf("%s\n", step.c_str());
    const std::string problems = execute(step);
    if (verbose_) {
      for (int c = 0; c < kComputers; ++c) {
        std::printf("  [%d]", c);
        for (const auto& item : readFavorites(computers_[c].host->favorites()))
          std::printf(" %s", item.first.c_str());
        std::printf("\n");
      }
    }
    if (problems.empty()) return true;
    report(title, *done, problems);
    return false;
  }

  bool runScript(const std::string& title, const std::vector<std::string>& steps) {
    std::vector<std::string> done;
    for (const std::string& step : steps) {
      if (!runStep(step, title, &done)) return false;
    }
    return true;
  }

  // Generates and runs `count` steps (and a last settle) from the seed.
  bool runSeed(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::vector<std::string> done = {"# seed " + std::to_string(seed)};
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i <= count; ++i) {
      const std::string step = i == count ? "settle" : nextStep(random);
      if (!runStep(step, "seed " + std::to_string(seed), &done)) return false;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("seed %u: %d steps, %d host runs, %d settles in %.1f s; rules used:", seed, count,
                hostRuns_, settles_, seconds);
    for (const auto& [rule, times] : rulesUsed_)
      std::printf(" %s %d;", kRuleNames[static_cast<int>(rule)], times);
    // Each seed's line shows at once, also when the output is a file.
    std::printf("\n");
    std::fflush(stdout);
    return true;
  }

  bool allowed(const std::string& kind) const {
    return ("," + without_ + ",").find("," + kind + ",") == std::string::npos;
  }

  int pick(std::mt19937& random, int count) {
    return std::uniform_int_distribution<int>(0, count - 1)(random);
  }

  std::string fresh(const std::string& kind) { return kind + std::to_string(++names_); }

  std::string freshLink(const std::string& name) {
    return "http://" + name + ".example/" + std::to_string(++links_);
  }

  std::string nextStep(std::mt19937& random) {
    for (;;) {
      const int roll = pick(random, 100);
      const int c = pick(random, kComputers);
      const std::string pc = std::to_string(c);
      if (roll < 48) return nextEdit(random, c);
      if (roll < 60) return "run " + pc;
      if (roll < 65) return "timer " + pc;
      if (roll < 74) {
        if (!allowed("overlap")) continue;
        const int other = (c + 1 + pick(random, kComputers - 1)) % kComputers;
        return "overlap " + pc + " " + std::to_string(other);
      }
      if (roll < 90) {
        if (!allowed("fault")) continue;
        static const char* const kinds[] = {
            "file-write=112@Favorites#", "file-write=5@Favorites#", "file-write=kill@Favorites#",
            "file-move=kill@Favorites#", "registry-write=5@HKCU#",  "down"};
        const int kind = pick(random, 6);
        if (kind == 5) return "fault " + pc + " down";
        return "fault " + pc + " " + kinds[kind] +
               std::to_string(pick(random, kind == 4   ? 6
                                           : kind == 3 ? 16
                                                       : 30));
      }
      return "settle";
    }
  }

  std::string nextEdit(std::mt19937& random, int c) {
    const Tree tree = readFavorites(computers_[c].host->favorites());
    std::vector<std::string> folders = {""}, items, bookmarks;
    for (const auto& entry : tree) {
      if (entry.first[0] == '!') continue;
      items.push_back(entry.first);
      (isFolderKey(entry.first) ? folders : bookmarks).push_back(entry.first);
    }
    const std::string pc = std::to_string(c);
    int op = pick(random, 100);
    if (items.empty()) op = op % 38;
    if (op >= 78 && bookmarks.empty()) op = 0;
    if (op < 30) {
      const std::string name = fresh("b");
      return "add " + pc + " " + folderWord(folders[pick(random, folders.size())]) + " " + name +
             " " + freshLink(name);
    }
    if (op < 38)
      return "folder " + pc + " " + folderWord(folders[pick(random, folders.size())]) + " " +
             fresh("f");
    const std::string key = items[pick(random, items.size())];
    if (op < 52) {
      // Without "emptying": no deletion that leaves the folder empty.
      const size_t removed = isFolderKey(key)
                                 ? static_cast<size_t>(std::count_if(
                                       items.begin(), items.end(),
                                       [&](const std::string& i) { return i.rfind(key, 0) == 0; }))
                                 : 1;
      const bool all = removed == items.size();
      if (all && !allowed("emptying")) return nextEdit(random, c);
      return "delete " + pc + " " + key;
    }
    if (op < 62) return "rename " + pc + " " + key + " " + fresh(isFolderKey(key) ? "f" : "b");
    if (op < 78) {
      std::vector<std::string> targets;
      for (const std::string& f : folders) {
        if (f != parentOf(key) && (!isFolderKey(key) || f.compare(0, key.size(), key) != 0))
          targets.push_back(f);
      }
      if (targets.empty()) return "delete " + pc + " " + key;
      return "move " + pc + " " + key + " " + folderWord(targets[pick(random, targets.size())]);
    }
    const std::string bookmark = bookmarks[pick(random, bookmarks.size())];
    return "link " + pc + " " + bookmark + " " + freshLink(nameOf(bookmark));
  }

  // Runs one step; the checks' failures, or "".
  std::string execute(const std::string& step) {
    const std::vector<std::string> w = words(step);
    if (w.empty() || w[0][0] == '#') return "";
    if (w[0] == "settle") return settle();
    if (w.size() < 2) return "a step line that cannot be read: " + step + "\n";
    const int c = std::atoi(w[1].c_str());
    if (c < 0 || c >= kComputers) return "no computer " + w[1] + "\n";
    Computer& pc = computers_[c];
    const std::filesystem::path fav = pc.host->favorites();
    if (w[0] == "add" && w.size() == 5) {
      if (!std::filesystem::is_directory(fav / folderKey(w[2]))) return "";
      std::ofstream(fav / folderKey(w[2]) / (w[3] + ".url"), std::ios::binary)
          << "[InternetShortcut]\r\nURL=" << w[4] << "\r\n";
      model_.put(folderKey(w[2]) + w[3], w[4]);
    } else if (w[0] == "folder" && w.size() == 4) {
      if (!std::filesystem::is_directory(fav / folderKey(w[2]))) return "";
      std::filesystem::create_directory(fav / folderKey(w[2]) / w[3]);
      model_.put(folderKey(w[2]) + w[3] + "/", "");
    } else if (w[0] == "delete" && w.size() == 3) {
      const Tree tree = readFavorites(fav);
      if (!tree.count(w[2])) return "";
      for (auto it = tree.lower_bound(w[2]);
           it != tree.end() && it->first.compare(0, w[2].size(), w[2]) == 0; ++it) {
        if (it->first == w[2] || isFolderKey(w[2])) model_.remove(it->first, pc.recoveryPending);
      }
      std::filesystem::remove_all(fav / (isFolderKey(w[2]) ? w[2] : w[2] + ".url"));
    } else if ((w[0] == "rename" || w[0] == "move") && w.size() == 4) {
      const std::string& key = w[2];
      const std::string parent = w[0] == "move" ? folderKey(w[3]) : parentOf(key);
      const std::string target =
          parent + (w[0] == "move" ? nameOf(key) : w[3]) + (isFolderKey(key) ? "/" : "");
      relocate(pc, key, target);
    } else if (w[0] == "link" && w.size() == 4) {
      const std::filesystem::path file = fav / (w[2] + ".url");
      if (!std::filesystem::is_regular_file(file)) return "";
      std::ofstream(file, std::ios::binary | std::ios::trunc)
          << "[InternetShortcut]\r\nURL=" << w[3] << "\r\n";
      model_.put(w[2], w[3]);
    } else if (w[0] == "run" || w[0] == "timer") {
      return cleanRun(pc, w[0] == "run" ? kSession : kTimerSession, step);
    } else if (w[0] == "overlap" && w.size() == 3) {
      const int other = std::atoi(w[2].c_str());
      if (other < 0 || other >= kComputers || other == c) return "no other computer " + w[2] + "\n";
      return overlap(pc, computers_[other], step);
    } else if (w[0] == "fault" && w.size() == 3) {
      faultedRun(pc, w[2]);
    } else {
      return "a step line that cannot be read: " + step + "\n";
    }
    return "";
  }

  // A rename or a move: the item and everything below it, as this
  // computer's user sees it, leaves its place for the target.
  void relocate(Computer& pc, const std::string& key, const std::string& target) {
    const std::filesystem::path fav = pc.host->favorites();
    const Tree tree = readFavorites(fav);
    const std::string suffix = isFolderKey(key) ? "" : ".url";
    const std::string targetSuffix = isFolderKey(target) ? "" : ".url";
    if (!tree.count(key) || tree.count(target) ||
        !std::filesystem::is_directory(fav / parentOf(target)))
      return;
    std::error_code ec;
    std::filesystem::rename(fav / (key + suffix), fav / (target + targetSuffix), ec);
    if (ec) return;
    for (auto it = tree.lower_bound(key);
         it != tree.end() && it->first.compare(0, key.size(), key) == 0; ++it) {
      if (it->first != key && !isFolderKey(key)) continue;
      model_.remove(it->first, pc.recoveryPending);
      model_.put(target + it->first.substr(key.size()), it->second);
    }
  }

  HostRun host(Computer& pc, const std::string& script,
               const testsupport::Environment& extra = {}) {
    ++hostRuns_;
    HostRun run = pc.host->runHost(script, extra);
    trace(pc, run);
    return run;
  }

  // With QUORVANE_MODEL_VERBOSE=1: what a run did, as the engine logged it,
  // and the requests it made.
  void trace(Computer& pc, const HostRun& run) {
    if (!verbose_) return;
    int index = 0;
    while (&computers_[index] != &pc) ++index;
    std::printf("  computer %d (exit %d, lastsync %ld):", index, run.exitCode, pc.host->lastSync());
    for (const std::string& event : pc.relay->takeEvents()) std::printf(" %s;", event.c_str());
    std::printf("\n");
    if (verbose_ == 2) {
      std::printf("%s", run.joined().c_str());
      return;
    }
    for (const std::string& line : run.grep({"has been finished", "Error", "error", "recovery"})) {
      std::printf("    %s\n", line.substr(0, 300).c_str());
    }
  }

  // A run without faults must succeed.
  std::string cleanRun(Computer& pc, const std::string& script, const std::string& step) {
    return judgeCleanRun(pc, host(pc, script), step);
  }

  std::string judgeCleanRun(Computer& pc, const HostRun& run, const std::string& step) {
    if (run.exitCode != 0 || run.has(kErrorIcon) || !run.has(kRunStarted)) {
      return "a run without faults failed (" + step + "):\n" + run.joined();
    }
    pc.recoveryPending = false;
    return "";
  }

  // The first computer's download is held in its relay while the second
  // runs from start to end; then the first goes on with what it downloaded.
  std::string overlap(Computer& held, Computer& other, const std::string& step) {
    held.relay->holdNextDownload();
    HostRun heldRun;
    ++hostRuns_;
    std::thread session([&] { heldRun = held.host->runHost(kSession); });
    const bool waiting = held.relay->waitUntilHeld();
    HostRun otherRun;
    if (waiting) otherRun = host(other, kSession);
    held.relay->release();
    session.join();
    trace(held, heldRun);
    if (!waiting)
      return "the held computer's run never downloaded (" + step + "):\n" + heldRun.joined();
    std::string problems = judgeCleanRun(other, otherRun, step);
    if (problems.empty()) problems = judgeCleanRun(held, heldRun, step);
    return problems;
  }

  void faultedRun(Computer& pc, const std::string& fault) {
    if (fault == "down") {
      pc.relay->setRefusing(true);
      host(pc, kSession);
      pc.relay->setRefusing(false);
    } else {
      host(pc, kSession, {{"QUORVANE_FAULTS", fault}});
    }
    pc.recoveryPending = pc.host->lastSync() == 0;
    if (pc.recoveryPending) model_.heldAtFailedApply(readFavorites(pc.host->favorites()));
  }

  // Every computer runs twice without faults (automatic runs switched on
  // again, as the user would after a failed apply); then the checks.
  std::string settle() {
    ++settles_;
    for (Computer& pc : computers_) pc.host->writeSettings(pc.settings);
    for (int round = 0; round < 2; ++round) {
      for (int c = 0; c < kComputers; ++c) {
        const std::string problems =
            cleanRun(computers_[c], kSession, "settle, computer " + std::to_string(c));
        if (!problems.empty()) return problems;
      }
    }
    std::string document;
    testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export",
                             user_, "--database", service_.database().string()},
                            "", &document);
    const Tree stored = parseList(document);
    std::string problems;
    for (int c = 0; c < kComputers; ++c) {
      const HostComputer& pc = *computers_[c].host;
      const std::string name = "computer " + std::to_string(c);
      const std::string diff =
          differences(readFavorites(pc.favorites()), name, stored, "the service");
      if (!diff.empty()) problems += "not converged, " + name + " and the service:\n" + diff;
      if (std::filesystem::exists(pc.favorites().parent_path() / "Favorites.apply")) {
        problems += "a staging folder is left on " + name + "\n";
      }
      if (pc.lastSync() != 1) problems += "\"lastsync\" is not 1 on " + name + "\n";
    }
    problems += model_.check(stored, &rulesUsed_);
    return problems;
  }

  void report(const std::string& title, const std::vector<std::string>& steps,
              const std::string& problems) {
    std::string script;
    for (const std::string& step : steps) script += step + "\n";
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("quorvane-model-" + std::to_string(::getpid()) +
                                                  "-" + std::to_string(++reports_) + ".steps");
    std::ofstream(file) << script;
    ADD_FAILURE() << title << ": after step " << steps.size() << " (" << steps.back() << "):\n"
                  << problems << "Replay with QUORVANE_MODEL_REPLAY=" << file.string() << ":\n"
                  << script;
  }

  std::vector<Computer> computers_;
  Model model_;
  std::map<Rule, int> rulesUsed_;
  std::string without_;
  std::string user_;
  int verbose_ = 0;  // QUORVANE_MODEL_VERBOSE
  int names_ = 0, links_ = 0, hostRuns_ = 0, settles_ = 0, reports_ = 0;
};

TEST_F(ModelTest, ComputersConvergeWithoutLossOrResurrection) {
  if (const char* replay = std::getenv("QUORVANE_MODEL_REPLAY")) {
    std::ifstream in(replay);
    ASSERT_TRUE(in) << "cannot read " << replay;
    std::vector<std::string> steps = {"settle"};
    for (std::string line; std::getline(in, line);) steps.push_back(line);
    ASSERT_NO_FATAL_FAILURE(startComputers("replay"));
    runScript(std::string("replay of ") + replay, steps);
    return;
  }
  const bool full = longTests();
  const int seeds = full ? 20 : 3, steps = full ? 1000 : 150;
  for (int i = 0; i < seeds; ++i) {
    const unsigned seed = 20261211u + static_cast<unsigned>(i);
    ASSERT_NO_FATAL_FAILURE(startComputers("model" + std::to_string(i)));
    ASSERT_EQ(execute("settle"), "");
    runSeed(seed, steps);
  }
}

}  // namespace
}  // namespace plugintest
