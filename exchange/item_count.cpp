#include "exchange/item_count.h"

#include <libxml/xmlreader.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "exchange/document.h"

namespace exchange {
namespace {

struct ReaderDeleter {
  void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};

// Hands the text to the reader a block at a time, without the bytes the
// parser would not see: no copy of the whole text is made.
struct Source {
  std::string_view text;
  size_t at = 0;
  bool dropControlBytes = false;

  static int read(void* self, char* buffer, int length) {
    auto* source = static_cast<Source*>(self);
    const std::string_view& text = source->text;
    size_t out = 0;
    const size_t room = static_cast<size_t>(length);
    if (!source->dropControlBytes) {
      out = std::min(room, text.size() - source->at);
      if (out) std::memcpy(buffer, text.data() + source->at, out);
      source->at += out;
      return static_cast<int>(out);
    }
    while (out < room && source->at < text.size()) {
      const char c = text[source->at++];
      if (static_cast<unsigned char>(c) >= 0x20) buffer[out++] = c;
    }
    return static_cast<int>(out);
  }
};

void ignoreError(void*, xmlError*) {}

// What an open element means for the elements below it.
struct Frame {
  bool container = false;     // its element children are items
  bool folder = false;        // a folder item: its first `children` is a container
  bool childrenSeen = false;  // that first `children` has been met
};

bool named(const xmlChar* name, const char* expected) {
  return name && std::strcmp(reinterpret_cast<const char*>(name), expected) == 0;
}

}  // namespace

size_t countListItems(std::string_view text, ControlBytes controlBytes, size_t stopAfter) {
  Source source;
  source.dropControlBytes = controlBytes == ControlBytes::Drop;
  source.text = source.dropControlBytes ? text : text.substr(0, text.find('\0'));
  // The options of parseDocumentText, and silence: errors are the parser's
  // to report.
  const int options =
      XML_PARSE_NOBLANKS | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlTextReader, ReaderDeleter> reader(
      xmlReaderForIO(&Source::read, nullptr, &source, nullptr, nullptr, options));
  if (!reader) return 0;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), &ignoreError, nullptr);

  size_t items = 0;
  std::vector<Frame> open;  // the open elements, by depth
  int result = xmlTextReaderRead(reader.get());
  while (result == 1) {
    bool skip = false;
    if (xmlTextReaderNodeType(reader.get()) == XML_READER_TYPE_ELEMENT) {
      const int depth = xmlTextReaderDepth(reader.get());
      if (depth < 0) break;
      open.resize(static_cast<size_t>(depth));
      Frame frame;
      const xmlChar* name = xmlTextReaderConstLocalName(reader.get());
      if (depth == 0) {
        frame.container = true;
      } else {
        Frame& parent = open.back();
        if (parent.container) {
          if (++items > stopAfter) return stopAfter + 1;
          frame.folder = named(name, kFolderElement);
        }
        if (parent.folder && !parent.childrenSeen && named(name, kChildrenElement)) {
          parent.childrenSeen = true;
          frame.container = true;
        }
      }
      // Nothing below a bookmark's parts can be an item: its subtree is
      // passed over whole.
      skip = !frame.container && !frame.folder;
      open.push_back(frame);
    }
    result = skip ? xmlTextReaderNext(reader.get()) : xmlTextReaderRead(reader.get());
  }
  return items;
}

bool exceedsItemLimit(std::string_view text, ControlBytes controlBytes) {
  return countListItems(text, controlBytes, kMaxListItems) > kMaxListItems;
}

}  // namespace exchange
