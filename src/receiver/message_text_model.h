// The text of a message view without any toolkit: how a batch of decoded
// records becomes lines of 8-bit text, with a format number, sample number
// and UTC time for every character. The Qt view draws these lines;
// decode_wav prints them.
//
// Batches follow the character handler's convention: NewChars the newest
// records of a storage, oldest first; OldChars the versions shown before of
// all of NewChars but the newest. Corrected views delete the old versions
// (newest first) and add the new ones; raw text never changes, so raw views
// add only the records of NewChars from index OldChars.size() on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/char_info.h"

namespace brenvo {

// Display facts of one character on screen.
struct TTextCharInfo {
  uint8_t Format = 0;  // 0..10: colours; 5..9 the confident forms of 0..4; 10 the channel-change bar
  int32_t SampleNo = 0;
  TDateTime Utc = 0.0;
};

// One change of the lines, reported once it is made, so that a view can
// follow the lines edit by edit.
enum TTextEdit : uint8_t {
  teLineAdded,          // an empty line after the last
  teCharAdded,          // Ch at the end of the last line
  teLatestCharDeleted,  // Ch, the last character of the last line, removed
  teLatestLineDeleted,  // the last line, empty by then, removed
  teOldestLineDeleted,  // the first line removed
};

// What a click on a character picks: the run of characters of its word
// class around it, the word's kind and the clicked character's offset in it.
struct TWordPick {
  std::string Word;  // 8-bit text; "" for a click beside the text
  TStateType Kind = ctNone;
  int32_t ClickPos = 0;
};

class TMessageTextModel {
 public:
  static constexpr uint8_t kBarFormat = 10;
  static constexpr int32_t kBarSampleNo = 2147483647;
  static constexpr uint8_t kBullet = 0x95;  // "~" on screen: the Windows-1252 bullet

  // Show records that are not cfVisible, and "_" as itself.
  bool ShowCtrlChars = false;
  // Show squelched records.
  bool ShowSquelched = true;
  // Corrected text (CorrCh, CorrFlags) instead of raw (RawCh, RawFlags).
  bool ShowCorrected = false;
  // Lines above which a batch first drops the oldest line; 0 keeps all.
  int32_t MaxLines = 100;

  // Called after every change of the lines but Clear.
  std::function<void(TTextEdit Edit, uint8_t Ch)> OnEdit;

  void Clear();
  // Applies one batch (see above).
  void PutText(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars);
  // The channel-change bar " QSX <FreqHz> Hz" on a line of its own start;
  // text that follows continues on the bar's line unless it starts a line.
  void PutQsxBar(int32_t FreqHz);

  bool IsShown(const TCharInfo& R) const;
  // Format number of a record for this view's mode.
  static uint8_t CorrFormat(const TCharInfo& R);
  static uint8_t RawFormat(const TCharInfo& R);

  // Lines as 8-bit text of the internal character set after the view's
  // replacements ("_" a blank unless ShowCtrlChars, "~" the bullet).
  const std::vector<std::string>& Lines() const { return FLines; }
  // One entry per character of each line.
  const std::vector<std::vector<TTextCharInfo>>& TextInfo() const { return FInfo; }
  // The lines joined by "\n", in UTF-8.
  std::string Utf8Text() const;

  // The gutter's minute stamp of line Line (from 0): "hh:nn" of the UTC of
  // its first character when that minute differs from the first character's
  // of the line before (always on the first line); "" for an empty line and
  // for a line after an empty one.
  std::string GutterText(int64_t Line) const;
  // Character Char (from 0) of line Line: its SampleNo, -1 outside the text.
  int32_t SampleNoAt(int64_t Line, int64_t Char) const;
  // Character Char of line Line: the run around it of the formats of its
  // class (a format and the one 5 above or below; the channel-change bar
  // alone), and the kind: ctCall for call signs, ctExchange for exchanges,
  // ctWord for the rest.
  TWordPick PickWord(int64_t Line, int64_t Char) const;

 private:
  void AddCorrChar(const TCharInfo& R);
  void AddRawChar(const TCharInfo& R);
  void DeleteCorrChar(const TCharInfo& R);
  void AppendChar(uint8_t C, const TTextCharInfo* Info);
  void DeleteLatestChar();  // of the last line, which is not empty
  bool HasChar(int64_t Line, int64_t Char) const;  // character Char of line Line exists
  void Edited(TTextEdit Edit, uint8_t Ch = 0) {
    if (OnEdit) OnEdit(Edit, Ch);
  }

  std::vector<std::string> FLines;
  std::vector<std::vector<TTextCharInfo>> FInfo;
};

// UTF-8 of 8-bit text read as Windows-1252, the code page of the decoder's
// characters (bytes that code page leaves undefined keep their own code point).
std::string Cp1252ToUtf8(std::string_view Text);
// The same for one byte: 1 to 3 bytes of UTF-8.
std::string_view Cp1252CharToUtf8(uint8_t B);

}  // namespace brenvo
