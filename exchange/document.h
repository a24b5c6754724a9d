// The exchange document: one XML document type carries a whole bookmark list
// between the plug-in, the engine and the service, and is also the cache file.
//
//   <?xml version="1.0"?>
//   <!DOCTYPE bookmarks PUBLIC "-//Veltrane Corp.//Lark-Fen Exchange//EN" "exchange.dtd">
//   <bookmarks timestamp="2005-03-07-09-05-00" type="full">
//     <folder order="0"><name>News</name><children>...</children></folder>
//     <bookmark order="1"><name>Lark</name><link>http://...</link>
//       <iconfile>...</iconfile><description>...</description>
//       <icon_index>0</icon_index><hotkey>0</hotkey></bookmark>
//     <separator/>
//   </bookmarks>
//
// The root and every folder's `children` element are containers; their element
// children are the items. Child elements are looked up by the first child
// element of that name; later duplicates are ignored. The declared DTD is
// never read: parsing loads no external subset and substitutes no entities.
#pragma once

#include <libxml/tree.h>

#include <filesystem>
#include <ctime>
#include <optional>
#include <string>

#include "exchange/xml_owners.h"

namespace exchange {

// Element and attribute names.
inline constexpr char kBookmarksElement[] = "bookmarks";
inline constexpr char kChildrenElement[] = "children";
inline constexpr char kFolderElement[] = "folder";
inline constexpr char kBookmarkElement[] = "bookmark";
inline constexpr char kSeparatorElement[] = "separator";
inline constexpr char kNameElement[] = "name";
inline constexpr char kLinkElement[] = "link";
inline constexpr char kIconFileElement[] = "iconfile";
inline constexpr char kDescriptionElement[] = "description";
inline constexpr char kIconIndexElement[] = "icon_index";
inline constexpr char kHotkeyElement[] = "hotkey";
inline constexpr char kOrderAttribute[] = "order";
inline constexpr char kTimestampAttribute[] = "timestamp";
inline constexpr char kTypeAttribute[] = "type";
inline constexpr char kFullType[] = "full";

// The document type declaration every party writes.
inline constexpr char kDoctypeRoot[] = "bookmarks";
inline constexpr char kDoctypePublicId[] = "-//Veltrane Corp.//Lark-Fen Exchange//EN";
inline constexpr char kDoctypeSystemId[] = "exchange.dtd";

// A new document: version "1.0", root `bookmarks` without attributes, and the
// document type declaration. Null only when memory runs out.
UniqueXmlDoc newDocument();

// A new document of version "1.0" with the document type declaration and the
// given element as its root (a merge result, a united list). Takes the root
// in every case; null only when memory runs out.
UniqueXmlDoc documentWithRoot(UniqueXmlNode root);

// The root element, or null.
xmlNode* rootElement(const xmlDoc* doc);

// Appends an empty element child (an item, a `children` container) and returns
// it; null when memory runs out.
xmlNode* addElement(xmlNode* parent, const char* name);
// Appends an element child holding the text as a text node, so that "&", "<"
// and ">" are escaped on output, and returns it.
xmlNode* addTextElement(xmlNode* parent, const char* name, const std::string& text);
// Sets (or replaces) an attribute.
void setAttribute(xmlNode* element, const char* name, const std::string& value);
// The attribute's value, or nothing when absent.
std::optional<std::string> attribute(const xmlNode* element, const char* name);
// The time its root's "timestamp" gives a document (0 for a text that does
// not read as one), or `otherwise` without a root or without the attribute.
std::time_t listTimeOf(const xmlDoc* doc, std::time_t otherwise);

// True for an element node with that name.
bool isElement(const xmlNode* node, const char* name);
// The first child element of that name, or null.
xmlNode* firstChildElement(const xmlNode* parent, const char* name);
// True when the node has at least one element child.
bool hasElementChild(const xmlNode* parent);
// The whole text content of a node.
std::string textContent(const xmlNode* node);
// The text of the first child element of that name, or nothing when absent.
std::optional<std::string> childText(const xmlNode* parent, const char* name);

// Formatted text for the hand-over and for upload (xmlDocDumpFormatMemory,
// formatting on): XML declaration without encoding, the document type
// declaration, indented elements, UTF-8.
std::string documentToText(xmlDoc* doc);
// Writes the document unindented, byte for byte as xmlSaveFile does, but as
// a whole new file that replaces the old one only once it is complete
// (platform::replaceFileContents): a failure leaves an older file whole.
// Returns the empty text on success, else a description of the failure.
std::string saveDocumentFile(xmlDoc* doc, const std::filesystem::path& path);

// Parses a text (xmlParseDoc's parser, whitespace-only text between elements
// dropped): null when it is not a well-formed document. The text ends at its
// first zero byte.
UniqueXmlDoc parseDocumentText(const std::string& text);
// Parses a file (xmlParseFile's parser, the same whitespace dropped): null
// when it is missing or does not parse.
UniqueXmlDoc parseDocumentFile(const std::filesystem::path& path);

}  // namespace exchange
