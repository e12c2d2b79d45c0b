#include "ui/main_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "files/file_replace.h"

namespace brenvo {
namespace {

void AppendEscaped(std::string& out, uint8_t c) {
  switch (c) {
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '&': out += "&amp;"; break;
    case '"': out += "&quot;"; break;
    default: out += Cp1252CharToUtf8(c);
  }
}

}  // namespace

std::string MessagesAsHtml(const std::vector<std::string>& lines,
                           const std::vector<std::vector<TTextCharInfo>>& info, TDateTime utc) {
  std::string text;
  uint32_t color = 0x000000;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    for (std::size_t j = 0; j < line.size(); ++j) {
      const auto c = static_cast<uint8_t>(line[j]);
      const bool hasFormat = i < info.size() && j < info[i].size() && info[i][j].Format < std::size(kHtmlLogColors);
      if (c != ' ' && hasFormat && kHtmlLogColors[info[i][j].Format] != color) {
        color = kHtmlLogColors[info[i][j].Format];
        char tag[40];
        std::snprintf(tag, sizeof tag, "</font><font color=\"#%.6X\">", static_cast<unsigned>(color));
        text += tag;
      }
      AppendEscaped(text, c);
    }
    text += "<br>\r";
  }
  return "<html><head><meta charset=\"utf-8\"></head><body><h2>" + UtcToStr(utc) +
         "</h2><font color=\"black\">" + text + "</font></body></html>";
}

void SaveMessagesAsHtml(const std::string& fileName, const TMessageTextModel& model, TDateTime utc) {
  WriteFileReplacing(fileName, MessagesAsHtml(model.Lines(), model.TextInfo(), utc));
}

std::string HtmlLogFileName(const std::string& wavFileName) {
  return std::filesystem::path(wavFileName).replace_extension(".htm").string();
}

std::vector<TContestMenuEntry> ContestMenuEntries(const std::vector<std::string>& sectionNames) {
  std::vector<TContestMenuEntry> entries;
  for (std::size_t i = 0; i < sectionNames.size(); ++i)
    if (sectionNames[i] != "DX") entries.push_back({sectionNames[i], static_cast<int32_t>(i)});
  return entries;
}

std::string MenuCaptionText(const std::string& name) {
  std::string caption;
  for (char c : name) {
    if (c == '&') caption += '&';
    caption += c;
  }
  return caption;
}

int32_t DeviceIndexOfCaption(const std::vector<std::string>& deviceNames, const std::string& caption) {
  const auto it = std::find(deviceNames.begin(), deviceNames.end(), caption);
  return it == deviceNames.end() ? -1 : static_cast<int32_t>(it - deviceNames.begin());
}

int32_t WaterfallClickBin(int32_t waterfallHeight, int32_t y, int32_t defaultMarkBin, int32_t defaultSpaceBin) {
  // C++ division truncates toward zero, as the shift's half must.
  return waterfallHeight - 1 + 16 - y + (defaultMarkBin - defaultSpaceBin) / 2;
}

}  // namespace brenvo
