#include "ui/main_commands.h"

#include <gtest/gtest.h>

#include <fstream>

#include "files/file_replace.h"
#include "files/ini_file.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

// Reads the log back: the text inside the font tags, entities resolved,
// "|" for "<br>" and "[colour]" where the colour changes. Fails on a bare
// ">" or "\"" in the text and on font tags out of balance.
std::string ColouredText(const std::string& page) {
  std::string out, shown;
  std::vector<std::string> fonts;
  for (std::size_t i = 0; i < page.size();) {
    std::size_t end = i + 1;
    if (page[i] == '<') {
      end = page.find('>', i) + 1;
      const std::string tag = page.substr(i + 1, end - i - 2);
      if (tag.rfind("font color=\"", 0) == 0) fonts.push_back(tag.substr(12, tag.size() - 13));
      if (tag == "/font" && !fonts.empty()) fonts.pop_back();
      if (tag == "br") out += "|";
    } else if (!fonts.empty() && page[i] != '\r') {  // the title aside
      if (page[i] == '&') end = page.find(';', i) + 1;
      const std::string ch = page.substr(i, end - i);
      EXPECT_TRUE(ch != ">" && ch != "\"") << i;
      if (fonts.back() != shown) out += "[" + (shown = fonts.back()) + "]";
      out += ch == "&lt;" ? "<" : ch == "&gt;" ? ">" : ch == "&amp;" ? "&" : ch == "&quot;" ? "\"" : ch;
    }
    i = end;
  }
  EXPECT_TRUE(fonts.empty());
  return out;
}

TEST(HtmlLogTest, ColoursEscapingAndFrame) {
  auto info = [](std::initializer_list<uint8_t> formats) {
    std::vector<TTextCharInfo> v;
    for (uint8_t f : formats) v.push_back({f, 0, 0.0});
    return v;
  };
  const std::vector<std::string> lines = {"AB C<", "&\"> \x95\xB0", "Q"};
  const std::vector<std::vector<TTextCharInfo>> infos = {info({5, 5, 6, 6, 6}), info({1, 1, 1, 6, 10, 10}),
                                                          info({42})};
  const std::string page = MessagesAsHtml(lines, infos, EncodeDateTime(2016, 3, 5, 7, 8, 9));
  EXPECT_EQ(page.rfind("<html><head><meta charset=\"utf-8\"></head><body><h2>2016-03-05 07:08:09</h2>"
                       "<font color=\"black\">AB </font><font color=\"#FF0000\">C",
                       0),
            0u);
  EXPECT_NE(page.find("<br>\r"), std::string::npos);
  // A blank keeps the colour; a format past the table keeps the current one.
  EXPECT_EQ(ColouredText(page), "[black]AB [#FF0000]C<|[#FF8888]&\"> [#0000FF]\u2022\u00B0|Q|");
}

TEST(HtmlLogTest, SavedFromTheView) {
  testing::TempDir tmp;
  const std::string name = HtmlLogFileName((tmp.Path() / "rec.2016.wav").string());
  EXPECT_EQ(name, (tmp.Path() / "rec.2016.htm").string());
  TMessageTextModel view;
  view.PutQsxBar(2125);
  SaveMessagesAsHtml(name, view, 0.0);
  EXPECT_EQ(ReadFileBytes(name), MessagesAsHtml(view.Lines(), view.TextInfo(), 0.0));
}

TEST(MainCommandsTest, ContestMenuSkipsExactlyDx) {
  testing::TempDir tmp;
  const std::string file = (tmp.Path() / "Contests.ini").string();
  std::ofstream(file) << "[CQ-WW-RTTY]\nCQ1=CQ|1\n[DX]\nCQ1=CQ|1\n[R&D]\n";
  const auto entries = ContestMenuEntries(TIniFile(file).ReadSectionNames());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name + "/" + std::to_string(entries[0].Tag), "CQ-WW-RTTY/0");
  EXPECT_EQ(entries[1].Name + "/" + std::to_string(entries[1].Tag), "R&D/2");
  EXPECT_EQ(ContestMenuEntries({"dx"}).size(), 1u);
  EXPECT_EQ(MenuCaptionText(entries[1].Name), "R&&D");
  EXPECT_EQ(DeviceIndexOfCaption({"default", "pulse"}, "pulse"), 1);
  EXPECT_EQ(DeviceIndexOfCaption({"default", "pulse"}, "gone"), -1);
}

TEST(MainCommandsTest, WaterfallClickBin) {
  // Tones 2295/2125 Hz, lower sideband: mark bin 181, space bin 196. The
  // row of bin 188 is 239 - 188 = 51; half the shift, -7.5, truncates to -7.
  EXPECT_EQ(WaterfallClickBin(224, 51, 181, 196), 181);
  EXPECT_EQ(WaterfallClickBin(224, 51, 196, 181), 195);  // upper sideband: +7
}

}  // namespace
}  // namespace brenvo
