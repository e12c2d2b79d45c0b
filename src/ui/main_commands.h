// The parts of the main window's commands that need no window: the HTML
// log written beside a saved recording, the contest menu's entries, the
// waterfall click's bin and the menus' captions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/utc_clock.h"
#include "receiver/message_text_model.h"

namespace brenvo {

// Colours of the log by the views' format number (red-green-blue); format
// 10, the channel-change bar, in blue.
inline constexpr uint32_t kHtmlLogColors[11] = {0x888888, 0xFF8888, 0x88FF88, 0x8888FF, 0xFF88FF, 0x000000,
                                                0xFF0000, 0x00FF00, 0x0000FF, 0xFF00FF, 0x0000FF};

// The page of the log: the view's lines (8-bit text) with a font tag at
// each change of colour (blanks keep the colour, characters whose format
// has no colour too), "<br>" and a carriage return after each line, titled
// with Utc as "yyyy-mm-dd hh:nn:ss". The text is escaped for HTML and
// encoded as UTF-8 from Windows-1252, as the page's head declares.
std::string MessagesAsHtml(const std::vector<std::string>& Lines,
                           const std::vector<std::vector<TTextCharInfo>>& Info, TDateTime Utc);
// The log of a view's text into FileName, replacing it in one step
// (EBrenvoError "Cannot write the file ..." when that fails).
void SaveMessagesAsHtml(const std::string& FileName, const TMessageTextModel& Model, TDateTime Utc);
// The log's name beside a recording: its extension replaced by ".htm".
std::string HtmlLogFileName(const std::string& WavFileName);

// One item of the contest menu: a section of the contest file and its
// index among all sections (the item's tag).
struct TContestMenuEntry {
  std::string Name;
  int32_t Tag = 0;
};
// Every section in file order but the one named exactly "DX" (case counts:
// "dx" is a contest of its own).
std::vector<TContestMenuEntry> ContestMenuEntries(const std::vector<std::string>& SectionNames);
// The contest menu lists the first this many: Qt's menus take time in
// proportion to their items for each one added (a million sections would
// take hours), and more than this is no menu to choose from. The shipped
// file makes 13 items.
inline constexpr std::size_t kMaxContestMenuItems = 256;

// A device or section name as a menu caption: "&" doubled so that it shows
// as itself instead of marking a shortcut letter.
std::string MenuCaptionText(const std::string& Name);
// Position of Caption in the device names; -1 when the list lacks it.
int32_t DeviceIndexOfCaption(const std::vector<std::string>& DeviceNames, const std::string& Caption);

// The bin a click on the waterfall aims at: the row Y (0 at the top of a
// waterfall WaterfallHeight rows high, bin 16 in its bottom row) taken as
// the centre of a tone pair, moved half the default shift toward the mark.
int32_t WaterfallClickBin(int32_t WaterfallHeight, int32_t Y, int32_t DefaultMarkBin, int32_t DefaultSpaceBin);

}  // namespace brenvo
