#include "plugin/favorites/writer.h"

#include <map>
#include <optional>
#include <set>
#include <vector>

#include "exchange/document.h"
#include "exchange/duplicates.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/moves.h"
#include "plugin/favorites/favorites_log.h"
#include "plugin/favorites/file_bytes.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/item_nodes.h"
#include "plugin/favorites/last_error_text.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/reader.h"
#include "plugin/favorites/shortcut.h"

namespace favorites {
namespace {

constexpr char kApplicationName[] = "Explorer";

// The shell operation takes the path and two zero units in 260 units.
constexpr size_t kMaxShellDeletePath = 258;

// The apply in progress: where its result is built and where it will land.
struct StagingTarget {
  std::u16string staged;  // the staging root, as pathToUtf16 gives it
  std::u16string final;   // the Favorites folder
};
const StagingTarget* g_target = nullptr;

class StagingScope {
 public:
  explicit StagingScope(const StagingTarget& target) : previous_(g_target) { g_target = &target; }
  ~StagingScope() { g_target = previous_; }
  StagingScope(const StagingScope&) = delete;
  StagingScope& operator=(const StagingScope&) = delete;

 private:
  const StagingTarget* previous_;
};

void appendError(std::u16string* collected, const std::u16string& error) {
  if (error.empty()) return;
  if (!collected->empty()) *collected += u"\r\n";
  *collected += error;
}

std::u16string writeItem(const std::filesystem::path& folder, xmlNode* item,
                         const std::u16string& relativePath) {
  if (exchange::isElement(item, exchange::kFolderElement)) {
    return writeFavoritesFolder(folder, item, relativePath);
  }
  if (exchange::isElement(item, exchange::kBookmarkElement)) {
    return writeInternetShortcut(folder, item, relativePath);
  }
  return std::u16string();  // separators and unknown elements make nothing
}

std::map<std::filesystem::path, platform::DirectoryEntry> listByName(const std::filesystem::path& folder,
                                                                     bool* listed) {
  std::map<std::filesystem::path, platform::DirectoryEntry> byName;
  std::vector<platform::DirectoryEntry> entries;
  *listed = platform::listDirectory(folder, &entries);
  for (platform::DirectoryEntry& entry : entries) {
    const std::string& name = entry.name.native();
    if (name != "." && name != "..") byName.emplace(entry.name, std::move(entry));
  }
  return byName;
}

// Whether a read would carry this file now: a shortcut file whose name a
// document can hold, within the size bound, that is an Internet shortcut.
bool wouldBeCarried(const std::filesystem::path& path, const platform::DirectoryEntry& entry) {
  if (entry.directory || entry.special) return false;
  if (carriedName(entry, platform::pathToUtf16(path.parent_path()).size()).leftOut) return false;
  std::string text;
  bool tooLarge = false;
  if (readFileBytes(path, &text, kMaxShortcutFileSize, &tooLarge) != FileRead::Ok || tooLarge) return false;
  return parseShortcutText(text).has_value();
}

// The renames that put a built result in place of what the reader read, and
// their undoing. Planned whole before the first rename, so that a conflict
// stops the apply while nothing has changed.
class Swap {
 public:
  Swap(const std::filesystem::path& trash, const ReadSet& read) : trash_(trash), read_(read) {}

  // Plans the replacement of the read entries of `oldDir` (the folder at
  // `relative` below the Favorites folder) by the entries of `newDir`.
  // False when a path cannot be listed or a conflict stops the apply; the
  // errors say why.
  bool plan(const std::filesystem::path& oldDir, const std::filesystem::path& newDir,
            const std::filesystem::path& relative) {
    bool listed = false;
    const auto olds = listByName(oldDir, &listed);
    if (!listed) return fail(lastErrorText16());
    const auto news = listByName(newDir, &listed);
    if (!listed) return fail(lastErrorText16());

    std::set<std::filesystem::path> removed;
    for (const auto& [name, entry] : olds) {
      if (!read_.holds(relative / name, entry)) continue;  // not read: it stays
      const auto replacement = news.find(name);
      const bool whole = !entry.directory || whollyRead(oldDir / name, relative / name);
      if (!whole) {
        // A folder holding entries that were not read: it stays with them.
        // Merged with a new folder of the same name, or emptied of what was
        // read.
        if (replacement == news.end() || !replacement->second.directory) {
          if (!planRemoval(oldDir / name, relative / name)) return false;
        }
        continue;
      }
      trashMoves_.push_back({oldDir / name, std::filesystem::path()});
      removed.insert(name);
    }

    for (const auto& [name, entry] : news) {
      const auto old = olds.find(name);
      if (old == olds.end() || removed.count(name)) {
        placeMoves_.push_back({newDir / name, oldDir / name});
      } else if (old->second.directory && !old->second.symbolicLink && entry.directory) {
        if (!plan(oldDir / name, newDir / name, relative / name)) return false;
      } else if (!old->second.directory && !entry.directory && wouldBeCarried(oldDir / name, old->second)) {
        // A shortcut made or changed since the read: it is newer than the
        // result's version, and the next run reads and sends it.
        logNote("Favorites: " + (oldDir / name).string() +
                " changed while the synchronization ran; it is kept as it is now.");
      } else {
        platform::setLastError(platform::kAlreadyExists);
        const std::u16string shown = platform::pathToUtf16(oldDir / name);
        return fail(entry.directory ? lastErrorText16() + u" " + shown : u"Can not create file " + shown);
      }
    }
    return true;
  }

  // Runs the planned renames: first what goes, then what comes. On a
  // failure the renames done are undone in reverse order and false is
  // returned with the last error of the failed rename.
  bool run() {
    std::vector<Move> done;
    size_t counter = 0;
    for (Move move : trashMoves_) {
      move.to = trash_ / std::to_string(counter++);
      if (!step(move, &done)) return false;
    }
    for (const Move& move : placeMoves_) {
      if (!step(move, &done)) return false;
    }
    return true;
  }

  const std::u16string& errors() const { return errors_; }

 private:
  struct Move {
    std::filesystem::path from;
    std::filesystem::path to;
  };

  bool fail(const std::u16string& error) {
    appendError(&errors_, error);
    return false;
  }

  bool step(const Move& move, std::vector<Move>* done) {
    if (platform::movePath(move.from, move.to)) {
      done->push_back(move);
      return true;
    }
    const platform::Status error = platform::lastError();
    appendError(&errors_, lastErrorText16());
    logNote("Favorites: " + move.from.string() + " could not be moved to " + move.to.string() +
            "; the renames done are undone.");
    for (auto undo = done->rbegin(); undo != done->rend(); ++undo) {
      if (!platform::movePath(undo->to, undo->from)) {
        logNote("Favorites: " + undo->to.string() + " could not be moved back to " + undo->from.string() + ".");
      }
    }
    platform::setLastError(error);
    return false;
  }

  // True when the reader read the folder and everything below it.
  bool whollyRead(const std::filesystem::path& dir, const std::filesystem::path& relative) {
    bool listed = false;
    const auto entries = listByName(dir, &listed);
    if (!listed) return false;
    for (const auto& [name, entry] : entries) {
      if (!read_.holds(relative / name, entry)) return false;
      if (entry.directory && !whollyRead(dir / name, relative / name)) return false;
    }
    return true;
  }

  // Takes out of a partly read folder what was read; the rest stays.
  bool planRemoval(const std::filesystem::path& dir, const std::filesystem::path& relative) {
    bool listed = false;
    const auto entries = listByName(dir, &listed);
    if (!listed) return fail(lastErrorText16());
    for (const auto& [name, entry] : entries) {
      if (!read_.holds(relative / name, entry)) continue;
      if (!entry.directory || whollyRead(dir / name, relative / name)) {
        trashMoves_.push_back({dir / name, std::filesystem::path()});
      } else if (!planRemoval(dir / name, relative / name)) {
        return false;
      }
    }
    return true;
  }

  const std::filesystem::path trash_;
  const ReadSet& read_;
  std::vector<Move> trashMoves_;
  std::vector<Move> placeMoves_;
  std::u16string errors_;
};

// Removes the staging folder; false (with the last error) when it stays.
bool removeStaging(const std::filesystem::path& staging) {
  if (!std::filesystem::exists(std::filesystem::symlink_status(staging))) return true;
  return !platform::shellDeleteObjects(staging, platform::ShellDeleteTarget::Exact).aborted;
}

// At the end of an apply: what stays is harmless, the next apply removes it.
void removeStagingAtEnd(const std::filesystem::path& staging) {
  if (!removeStaging(staging)) {
    logNote("Favorites: the staging folder " + staging.string() + " could not be removed; the next apply removes it.");
  }
}

// What a failed apply leaves: the Favorites folder as it was, no staging
// folder, no icon file of its own, no menu order of its own.
std::u16string abandon(const std::filesystem::path& staging, IconFilesWritten* icons, std::u16string error) {
  icons->removeAll();
  discardMenuOrders();
  removeStagingAtEnd(staging);
  return error;
}

}  // namespace

std::filesystem::path stagingFolder(const std::filesystem::path& favorites) {
  return favorites.parent_path() / (favorites.filename().native() + ".apply");
}

std::u16string finalPathText(const std::filesystem::path& path) {
  std::u16string text = platform::pathToUtf16(path);
  if (g_target && text.compare(0, g_target->staged.size(), g_target->staged) == 0 &&
      (text.size() == g_target->staged.size() || text[g_target->staged.size()] == u'\\')) {
    text.replace(0, g_target->staged.size(), g_target->final);
  }
  return text;
}

bool shellDelete(const std::filesystem::path& path, platform::ShellDeleteTarget target) {
  if (platform::pathToUtf16(path).size() > kMaxShellDeletePath) {
    platform::setLastError(platform::kFilenameTooLong);
    return false;
  }
  return !platform::shellDeleteObjects(path, target).aborted;
}

std::u16string writeFavoritesFolder(const std::filesystem::path& parent, xmlNode* folder,
                                    const std::u16string& relativePath) {
  const std::u16string name =
      platform::utf8ToUtf16(exchange::childText(folder, exchange::kNameElement).value_or(""));
  if (!isSafeItemName(name)) {
    platform::setLastError(platform::kInvalidName);
    return lastErrorText16();
  }
  const std::filesystem::path directory = parent / platform::pathFromUtf16(name);
  // A longer path could not be listed or deleted by the system's calls.
  if (finalPathText(directory).size() > kMaxFolderPath) {
    platform::setLastError(platform::kFilenameTooLong);
    return lastErrorText16();
  }
  if (!platform::makeDirectory(directory)) return lastErrorText16();

  if (MenuOrderFolder* order = menuOrderFor(relativePath)) {
    const int32_t position = orderOf(folder);
    order->addEntry(name, std::u16string(), ItemKind::Folder, position >= 0 ? position : -1);
  }
  const std::u16string itemsPath = relativePath + u"\\" + name;
  for (xmlNode* children = folder->children; children; children = children->next) {
    if (!exchange::isElement(children, exchange::kChildrenElement)) continue;
    std::u16string collected;
    for (xmlNode* item = children->children; item; item = item->next) {
      appendError(&collected, writeItem(directory, item, itemsPath));
    }
    if (!collected.empty()) return collected;
  }
  return std::u16string();
}

std::u16string writeFavoritesItems(const std::filesystem::path& folder, xmlNode* root) {
  std::u16string collected;
  for (xmlNode* item = root ? root->children : nullptr; item; item = item->next) {
    appendError(&collected, writeItem(folder, item, std::u16string()));
  }
  return collected;
}

std::u16string writeFavorites(const std::string& documentText, const ReadSet* read) {
  // Parsed before anything is touched: a broken document must not cost the
  // user the Favorites.
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(documentText);
  xmlNode* root = doc ? exchange::rootElement(doc.get()) : nullptr;
  if (!root) return u"Could not parse XML";
  // Two folders of one name would be one directory: their items go into the
  // first. Of two bookmarks of one name the first is written.
  exchange::uniteDuplicates(root, kApplicationName);

  const std::filesystem::path favorites = platform::findSpecialFolder(platform::SpecialFolder::Favorites);
  if (favorites.empty()) return lastErrorText16();
  ReadSet carriedNow;
  if (!read) {
    std::string ignored;
    const std::u16string error = readFavorites(&ignored, &carriedNow);
    if (!error.empty()) return error;
    read = &carriedNow;
  }

  // A staging folder left by an apply that was stopped holds nothing the
  // user still needs: a result never put in place, and entries already
  // taken out of the Favorites folder for good.
  const std::filesystem::path staging = stagingFolder(favorites);
  if (!removeStaging(staging)) return lastErrorText16();
  const std::filesystem::path built = staging / "new";
  const std::filesystem::path trash = staging / "old";
  if (!platform::makeDirectory(staging, 0700) || !platform::makeDirectory(built) ||
      !platform::makeDirectory(trash)) {
    const std::u16string error = lastErrorText16();
    removeStaging(staging);
    return error;
  }

  IconFilesWritten icons;
  std::u16string errors;
  {
    const StagingTarget target{platform::pathToUtf16(built), platform::pathToUtf16(favorites)};
    StagingScope scope(target);
    errors = writeFavoritesItems(built, root);
  }
  if (!errors.empty()) return abandon(staging, &icons, errors);
  // What was written reaches the disk before anything refers to it: after a
  // power cut no shortcut is found empty under its final name.
  platform::flushFileSystem(built);

  Swap swap(trash, *read);
  if (!swap.plan(favorites, built, std::filesystem::path()) || !swap.run()) {
    return abandon(staging, &icons, swap.errors());
  }
  platform::flushFileSystem(favorites);
  removeStagingAtEnd(staging);
  icons.removeOthers();
  return std::u16string();
}

}  // namespace favorites
