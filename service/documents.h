// The exchange documents the service receives and sends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "exchange/xml_owners.h"

namespace service {

// Call once before serving requests from several threads.
void initXml();

// An uploaded list, parsed and checked.
class ListDocument {
 public:
  // Parses a PUT body: well-formed XML, root `bookmarks`, no entities of its
  // own. Parsed without network access, without loading or applying any
  // DTD and without substituting entities. Returns an error text, empty on
  // success.
  static std::string parse(std::string_view body, ListDocument& out);

  // The document as stored and sent in a "full" answer: the standard
  // document type declaration, root attributes type "full" and timestamp
  // the text of listTime, UTF-8 without encoding declaration.
  std::string render(std::int64_t listTime);

  // Folders, bookmarks and separators at every depth: the items of the
  // root and, through each folder's first `children`, of the folders below.
  std::int64_t items() const { return items_; }

 private:
  exchange::UniqueXmlDoc doc_;
  std::int64_t items_ = 0;
};

// The item count of a stored document (as ListDocument::items counts).
// Returns an error text, empty on success.
std::string countListItems(std::string_view document, std::int64_t& items);

// A stored document rendered again for a new list time (a restore); empty
// when it does not parse.
std::string rerenderList(const std::string& document, std::int64_t listTime);

// A "full" answer for an empty list.
std::string emptyListDocument(std::int64_t listTime);

// A "skip" answer: the list has not changed since the client's time stamp.
std::string skipDocument(std::int64_t listTime);

}  // namespace service
