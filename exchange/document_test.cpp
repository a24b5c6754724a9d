#include "exchange/document.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "exchange/data_folder.h"
#include "platform/folders.h"
#include "tests/support/temp_prefix.h"

namespace exchange {
namespace {

constexpr char kDeclarations[] =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" "
    "\"exchange.dtd\">\n";

// A list as the plug-in builds one: a folder with a bookmark, and a bookmark
// whose texts need escaping.
UniqueXmlDoc sampleDocument() {
  UniqueXmlDoc doc = newDocument();
  xmlNode* root = rootElement(doc.get());
  setAttribute(root, kTimestampAttribute, "2005-03-07-09-05-00");
  setAttribute(root, kTypeAttribute, kFullType);
  xmlNode* folder = addElement(root, kFolderElement);
  addTextElement(folder, kNameElement, "News & <Views>");
  xmlNode* children = addElement(folder, kChildrenElement);
  xmlNode* inner = addElement(children, kBookmarkElement);
  addTextElement(inner, kNameElement, "Lark");
  addTextElement(inner, kLinkElement, "http://lark.example/?a=1&b=2");
  setAttribute(inner, kOrderAttribute, "1");
  setAttribute(folder, kOrderAttribute, "0");
  xmlNode* bookmark = addElement(root, kBookmarkElement);
  addTextElement(bookmark, kNameElement, "Tom & Jerry <3>");
  addTextElement(bookmark, kLinkElement, "http://fen.example/");
  addTextElement(bookmark, kDescriptionElement, "a < b > c");
  setAttribute(bookmark, kOrderAttribute, "2");
  return doc;
}

TEST(Document, NewDocumentCarriesVersionAndDoctype) {
  UniqueXmlDoc doc = newDocument();
  ASSERT_TRUE(doc);
  xmlNode* root = rootElement(doc.get());
  setAttribute(root, kTimestampAttribute, "2005-03-07-09-05-00");
  setAttribute(root, kTypeAttribute, kFullType);
  EXPECT_EQ(documentToText(doc.get()),
            std::string(kDeclarations) +
                "<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\"/>\n");
}

TEST(Document, TextRoundTripIsStableAndEscapes) {
  UniqueXmlDoc doc = sampleDocument();
  std::string text = documentToText(doc.get());
  EXPECT_EQ(text.rfind(kDeclarations, 0), 0u) << text;
  EXPECT_NE(text.find("<name>Tom &amp; Jerry &lt;3&gt;</name>"), std::string::npos) << text;
  EXPECT_NE(text.find("\n  <folder order=\"0\">\n    <name>"), std::string::npos) << text;

  UniqueXmlDoc parsed = parseDocumentText(text);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(documentToText(parsed.get()), text);

  xmlNode* root = rootElement(parsed.get());
  xmlNode* folder = firstChildElement(root, kFolderElement);
  EXPECT_EQ(childText(folder, kNameElement), "News & <Views>");
  xmlNode* bookmark = firstChildElement(root, kBookmarkElement);
  EXPECT_EQ(childText(bookmark, kNameElement), "Tom & Jerry <3>");
  EXPECT_EQ(childText(bookmark, kDescriptionElement), "a < b > c");
  EXPECT_EQ(
      childText(firstChildElement(firstChildElement(folder, kChildrenElement), kBookmarkElement),
                kLinkElement),
      "http://lark.example/?a=1&b=2");
}

TEST(Document, FileIsWrittenPlainAndReadsBack) {
  testsupport::TempDir dir;
  std::filesystem::path path = dir.path() / "list.xml";
  UniqueXmlDoc doc = sampleDocument();
  ASSERT_EQ(saveDocumentFile(doc.get(), path), "");

  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  std::string text = contents.str();
  EXPECT_EQ(text.rfind(kDeclarations, 0), 0u) << text;
  EXPECT_NE(text.find("<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\"><folder"),
            std::string::npos)
      << text;

  UniqueXmlDoc parsed = parseDocumentFile(path);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(documentToText(parsed.get()), documentToText(doc.get()));

  // The bytes are those libxml2's own file output gives (non-ASCII text as
  // character references), which caches written before hold.
  addTextElement(rootElement(doc.get()), kNameElement, "caf\xC3\xA9 \xE2\x82\xAC");
  ASSERT_EQ(saveDocumentFile(doc.get(), path), "");
  ASSERT_GE(xmlSaveFile((dir.path() / "reference.xml").c_str(), doc.get()), 0);
  std::ifstream saved(path, std::ios::binary), reference(dir.path() / "reference.xml", std::ios::binary);
  std::stringstream savedBytes, referenceBytes;
  savedBytes << saved.rdbuf();
  referenceBytes << reference.rdbuf();
  EXPECT_EQ(savedBytes.str(), referenceBytes.str());
}

TEST(Document, SaveReportsAnUnwritablePath) {
  testsupport::TempDir dir;
  UniqueXmlDoc doc = newDocument();
  EXPECT_NE(saveDocumentFile(doc.get(), dir.path() / "missing" / "list.xml"), "");
}

TEST(Document, UnreadableInputGivesNoDocument) {
  struct Case {
    const char* label;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"not xml", "bookmarks"},
      {"unclosed", "<bookmarks><bookmark>"},
      {"truncated at a zero byte", std::string("<bookmarks>\0</bookmarks>", 24)},
      {"entity declarations",
       "<!DOCTYPE bookmarks [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
       "<bookmarks><bookmark><name>&b;</name></bookmark></bookmarks>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_FALSE(parseDocumentText(c.text));
  }
  testsupport::TempDir dir;
  EXPECT_FALSE(parseDocumentFile(dir.path() / "absent.xml"));
}

TEST(Document, FirstChildElementWins) {
  UniqueXmlDoc doc = parseDocumentText(
      "<bookmarks><folder>text<name>first</name><name>second</name>"
      "<children><bookmark><name>in</name></bookmark></children><children/></folder>"
      "</bookmarks>");
  ASSERT_TRUE(doc);
  xmlNode* folder = firstChildElement(rootElement(doc.get()), kFolderElement);
  EXPECT_EQ(childText(folder, kNameElement), "first");
  EXPECT_TRUE(hasElementChild(firstChildElement(folder, kChildrenElement)));
  EXPECT_EQ(childText(folder, kLinkElement), std::nullopt);
}

TEST(Document, DocumentWithRootAdoptsACopiedList) {
  UniqueXmlDoc source = sampleDocument();
  UniqueXmlNode copy(xmlCopyNode(rootElement(source.get()), 1));
  UniqueXmlDoc doc = documentWithRoot(std::move(copy));
  ASSERT_TRUE(doc);
  EXPECT_EQ(documentToText(doc.get()), documentToText(source.get()));
}

TEST(DataFolder, CacheFileLivesInTheCreatedDataFolder) {
  testsupport::TempPrefix prefix;
  std::filesystem::path appData = platform::specialFolder(platform::SpecialFolder::AppData);
  ASSERT_FALSE(std::filesystem::exists(appData / "BookmarkPlugin"));
  std::filesystem::path path = cacheFilePath("Explorer");
  EXPECT_EQ(path, appData / "BookmarkPlugin" / "bookmarkscache_Explorer.xml");
  EXPECT_TRUE(std::filesystem::is_directory(appData / "BookmarkPlugin"));
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace exchange
