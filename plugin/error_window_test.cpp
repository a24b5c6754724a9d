// The error window: entries, icon states, layout on resize, minimum size,
// Close and Escape, click to show.
#include "plugin/error_window.h"

#include <gtest/gtest.h>

#include <regex>

#include "tests/support/temp_prefix.h"

namespace bookmark {
namespace {

class ErrorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ErrorWindow::create();
    ASSERT_NE(window_, nullptr);
    dialog_ = platform::findDialog(window_->handle());
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    window_.reset();
    EXPECT_TRUE(platform::shownIcons().empty()) << "destruction removes the icon";
  }

  testsupport::TempPrefix prefix_;
  std::unique_ptr<ErrorWindow> window_;
  platform::Dialog* dialog_ = nullptr;
};

TEST_F(ErrorWindowTest, StartsHiddenWithTheRecordOfItsIcon) {
  EXPECT_FALSE(dialog_->visible());
  EXPECT_EQ(dialog_->templateId(), 105);
  EXPECT_EQ(window_->record().cbSize, 88u);
  EXPECT_EQ(window_->record().hWnd, window_->handle());
  EXPECT_EQ(window_->record().uCallbackMessage, 1124u);
  EXPECT_FALSE(window_->iconShown());
  EXPECT_EQ(window_->minTrackWidth(), dialog_->windowRect().width());
  EXPECT_EQ(window_->minTrackHeight(), dialog_->windowRect().height());
}

TEST_F(ErrorWindowTest, EntriesAreTimeLineMessageAndAnEmptyLineBetween) {
  window_->appendEntry(u"First failure");
  window_->appendEntry(u"Second\r\nfailure");
  const std::string text = dialog_->itemText(kMessageListId);
  const std::regex entries(
      R"(\d\d/\d\d/\d{4}, \d\d:\d\d:\d\d\r\nFirst failure\r\n\r\n)"
      R"(\d\d/\d\d/\d{4}, \d\d:\d\d:\d\d\r\nSecond\r\nfailure\r\n)");
  EXPECT_TRUE(std::regex_match(text, entries)) << text;
  EXPECT_GT(dialog_->itemFirstVisibleLine(kMessageListId), 0) << "scrolled to the last entry";
  EXPECT_FALSE(dialog_->visible()) << "appending does not show the window";
  EXPECT_EQ(entryTimeText(0).size(), 22u);
}

TEST_F(ErrorWindowTest, IconIsAddedModifiedAndRemoved) {
  const platform::IconHandle icon = platform::loadIconResource("libBookmark.so", 204);
  window_->showIcon(icon, "Bookmark plugin error");
  ASSERT_EQ(platform::shownIcons().size(), 1u);
  EXPECT_EQ(platform::shownIcons()[0].tip, "Bookmark plugin error");
  EXPECT_EQ(window_->record().uFlags, platform::kNifIcon | platform::kNifTip | platform::kNifMessage);
  window_->showIcon(icon, std::string(100, 'x'));
  ASSERT_EQ(platform::shownIcons().size(), 1u) << "a second failure modifies the one icon";
  EXPECT_EQ(platform::shownIcons()[0].tip, std::string(63, 'x'));
  window_->removeIcon();
  EXPECT_TRUE(platform::shownIcons().empty());
  EXPECT_FALSE(window_->iconShown());
  window_->showIcon(icon, "again");
  EXPECT_EQ(platform::shownIcons().size(), 1u) << "added anew after a removal";
  window_->showIcon(0, "");
  EXPECT_TRUE(platform::shownIcons().empty()) << "a null icon removes it";
}

TEST_F(ErrorWindowTest, ClickShowsCloseHidesAndRemovesTheIconEscapeKeepsItOpen) {
  window_->showIcon(platform::loadIconResource("libBookmark.so", 204), "Bookmark plugin error");
  platform::sendDialogMessage(window_->handle(), kIconCallbackMessage, 0, platform::kWmLButtonDown + 1);
  EXPECT_FALSE(dialog_->visible()) << "only a left button press shows it";
  platform::sendDialogMessage(window_->handle(), kIconCallbackMessage, 0, platform::kWmLButtonDown);
  EXPECT_TRUE(dialog_->visible());
  EXPECT_TRUE(window_->onCommand(*dialog_, platform::kIdCancel, platform::kBnClicked));
  EXPECT_TRUE(dialog_->visible()) << "Escape leaves it open";
  EXPECT_TRUE(window_->onCommand(*dialog_, kCloseButtonId, platform::kBnClicked));
  EXPECT_FALSE(dialog_->visible());
  EXPECT_FALSE(window_->iconShown());
  EXPECT_TRUE(platform::shownIcons().empty());
}

TEST_F(ErrorWindowTest, ResizeMovesCloseAndStretchesTheListAboveTheMinimum) {
  int width = 0, height = 0;
  ASSERT_TRUE(window_->onMinTrackSize(*dialog_, &width, &height));
  EXPECT_EQ(width, dialog_->windowRect().width());
  EXPECT_EQ(height, dialog_->windowRect().height());

  const platform::Rect client = dialog_->clientRect();
  const platform::Rect button = dialog_->itemRect(kCloseButtonId);
  const platform::Rect list = dialog_->itemRect(kMessageListId);
  const platform::Rect group = dialog_->itemRect(kMessagesGroupId);
  dialog_->setWindowSize(width + 100, height + 40);
  const platform::Rect grown = dialog_->clientRect();
  ASSERT_EQ(grown.width() - client.width(), 100);
  ASSERT_EQ(grown.height() - client.height(), 40);
  EXPECT_EQ(dialog_->itemRect(kCloseButtonId),
            (platform::Rect{button.left + 100, button.top + 40, button.right + 100, button.bottom + 40}));
  EXPECT_EQ(dialog_->itemRect(kMessageListId),
            (platform::Rect{list.left, list.top, list.right + 100, list.bottom + 40}));
  EXPECT_EQ(dialog_->itemRect(kMessagesGroupId),
            (platform::Rect{group.left, group.top, group.right + 100, group.bottom + 40}));
  EXPECT_EQ(window_->previousClientRect(), grown);

  dialog_->setWindowSize(width, height);
  EXPECT_EQ(dialog_->itemRect(kCloseButtonId), button) << "shrinking back moves it back";
}

}  // namespace
}  // namespace bookmark
