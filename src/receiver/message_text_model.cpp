#include "receiver/message_text_model.h"

#include <cmath>
#include <cstdio>

#include "decoder/char_prob.h"
#include "decoder/utc_clock.h"

namespace brenvo {

namespace {

constexpr uint8_t kCr = '\r';

// Code points of Windows-1252 bytes 80..9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) out += Cp1252CharToUtf8(static_cast<uint8_t>(c));
  return out;
}

std::string_view Cp1252CharToUtf8(uint8_t b) {
  static const std::vector<std::string> table = [] {
    std::vector<std::string> t(256);
    for (int i = 0; i < 256; ++i) AppendUtf8(t[i], i >= 0x80 && i < 0xA0 ? kCp1252High[i - 0x80] : char32_t(i));
    return t;
  }();
  return table[b];
}

void TMessageTextModel::Clear() {
  FLines.clear();
  FInfo.clear();
}

bool TMessageTextModel::IsShown(const TCharInfo& r) const {
  if (ShowCorrected) {
    const TCharFlags f = r.CorrFlags;
    return (ShowCtrlChars || f.Has(cfVisible)) && (ShowSquelched || !(f.Has(cfPreSquelch) || f.Has(cfSquelch)));
  }
  const TCharFlags f = r.RawFlags;
  return (ShowCtrlChars || f.Has(cfVisible)) && (ShowSquelched || !f.Has(cfSquelch));
}

uint8_t TMessageTextModel::CorrFormat(const TCharInfo& r) {
  const TCharFlags f = r.CorrFlags;
  const bool weak = f.Has(cfWeak);
  if (f.Has(cfPreSquelch) || f.Has(cfSquelch)) return weak ? 4 : 9;
  uint8_t base = 0;
  switch (r.ChType) {
    case ctExchange: base = 3; break;
    case ctCall: base = 1; break;
    case ctDe:
    case ctCQ: base = 2; break;
    default: base = 0; break;
  }
  return static_cast<uint8_t>(weak ? base : base + 5);
}

uint8_t TMessageTextModel::RawFormat(const TCharInfo& r) {
  const TCharFlags f = r.RawFlags;
  uint8_t fmt = f.Has(cfSquelch) ? 4 : f.Has(cfVisible) ? 0 : 3;
  const TBitProbArray bits = r.BitProbs;
  if (CharUncertainty(bits) <= 0.05f) fmt = static_cast<uint8_t>(fmt + 5);
  return fmt;
}

void TMessageTextModel::PutText(const TCharInfoArray& newChars, const TCharInfoArray& oldChars) {
  if (MaxLines > 0 && static_cast<int64_t>(FLines.size()) > MaxLines) {
    FLines.erase(FLines.begin());
    FInfo.erase(FInfo.begin());
    Edited(teOldestLineDeleted);
  }
  if (ShowCorrected) {
    for (auto it = oldChars.rbegin(); it != oldChars.rend(); ++it) DeleteCorrChar(*it);
    for (const TCharInfo& r : newChars) AddCorrChar(r);
  } else {
    for (std::size_t i = oldChars.size(); i < newChars.size(); ++i) AddRawChar(newChars[i]);
  }
}

void TMessageTextModel::AddCorrChar(const TCharInfo& r) {
  const TCharFlags f = r.CorrFlags;
  if (f.Has(cfVisNewLine)) AppendChar(kCr, nullptr);
  if (FLines.empty()) AppendChar(kCr, nullptr);
  if (!IsShown(r)) return;
  const TTextCharInfo info{CorrFormat(r), r.SampleNo, r.Utc};
  uint8_t c = r.CorrCh;
  if (c == '_' && !ShowCtrlChars) c = ' ';
  else if (c == '~') c = kBullet;
  AppendChar(c, &info);
}

void TMessageTextModel::AddRawChar(const TCharInfo& r) {
  const TCharFlags f = r.RawFlags;
  // A line first, as for corrected text, so that every character has a line.
  if (f.Has(cfNewLine) || FLines.empty()) AppendChar(kCr, nullptr);
  if (!IsShown(r)) return;
  const TTextCharInfo info{RawFormat(r), r.SampleNo, r.Utc};
  uint8_t c = r.RawCh;
  if (c == '_' && !ShowCtrlChars) c = ' ';
  AppendChar(c, &info);
}

void TMessageTextModel::DeleteCorrChar(const TCharInfo& r) {
  if (FLines.empty()) return;
  const std::size_t last = FLines.size() - 1;
  if (IsShown(r) && !FLines[last].empty()) DeleteLatestChar();
  const TCharFlags f = r.CorrFlags;
  // A sole empty line is the one the first character of an empty view
  // opened: it goes with it, or a later version that starts a line would
  // leave it standing above the text.
  if (f.Has(cfVisNewLine) || (FLines.size() == 1 && FLines[0].empty())) {
    // Emptied first, so that a line goes only when it is empty.
    while (!FLines.back().empty()) DeleteLatestChar();
    FLines.pop_back();
    FInfo.pop_back();
    Edited(teLatestLineDeleted);
  }
}

void TMessageTextModel::DeleteLatestChar() {
  const uint8_t c = static_cast<uint8_t>(FLines.back().back());
  FLines.back().pop_back();
  FInfo.back().pop_back();
  Edited(teLatestCharDeleted, c);
}

void TMessageTextModel::AppendChar(uint8_t c, const TTextCharInfo* info) {
  if (c == kCr || FLines.empty()) {
    FLines.emplace_back();
    FInfo.emplace_back();
    Edited(teLineAdded);
  }
  if (c == kCr) return;
  FLines.back().push_back(static_cast<char>(c));
  FInfo.back().push_back(info ? *info : TTextCharInfo{});
  Edited(teCharAdded, c);
}

void TMessageTextModel::PutQsxBar(int32_t freqHz) {
  char text[32];
  std::snprintf(text, sizeof text, " QSX %d Hz", static_cast<int>(freqHz));
  if (FLines.empty() || !FLines.back().empty()) AppendChar(kCr, nullptr);
  const TTextCharInfo info{kBarFormat, kBarSampleNo, UtcNow()};
  for (const char* p = text; *p; ++p) AppendChar(static_cast<uint8_t>(*p), &info);
}

std::string TMessageTextModel::Utf8Text() const {
  std::string s;
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    if (i > 0) s.push_back('\n');
    s += FLines[i];
  }
  return Cp1252ToUtf8(s);
}

namespace {

// Whole minutes since the date-time origin, from the time rounded to the
// millisecond as it is shown (a time at a full minute never counts as the
// minute before).
int64_t MinuteOf(TDateTime t) {
  const double ms = std::nearbyint(t * 86'400'000.0);
  return static_cast<int64_t>(std::floor(ms / 60'000.0));
}

}  // namespace

std::string TMessageTextModel::GutterText(int64_t line) const {
  const auto n = static_cast<int64_t>(FInfo.size());
  if (line < 0 || line >= n || FInfo[line].empty()) return {};
  const TDateTime t = FInfo[line].front().Utc;
  if (line > 0) {
    const std::vector<TTextCharInfo>& prev = FInfo[line - 1];
    if (prev.empty() || MinuteOf(prev.front().Utc) == MinuteOf(t)) return {};
  }
  const TDateTimeParts p = DecodeDateTime(t);
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", p.Hour % 100, p.Minute % 100);
  return text;
}

bool TMessageTextModel::HasChar(int64_t line, int64_t ch) const {
  return line >= 0 && line < static_cast<int64_t>(FInfo.size()) && ch >= 0 &&
         ch < static_cast<int64_t>(FInfo[line].size());
}

int32_t TMessageTextModel::SampleNoAt(int64_t line, int64_t ch) const {
  return HasChar(line, ch) ? FInfo[line][ch].SampleNo : -1;
}

TWordPick TMessageTextModel::PickWord(int64_t line, int64_t ch) const {
  TWordPick pick;
  if (!HasChar(line, ch)) return pick;
  const std::vector<TTextCharInfo>& info = FInfo[line];
  // The bar is a class of its own: text after it on its line is no part of it.
  const auto classOf = [](uint8_t format) { return format >= kBarFormat ? int{format} : format % 5; };
  const int cls = classOf(info[ch].Format);
  int64_t start = ch, end = ch;
  while (start > 0 && classOf(info[start - 1].Format) == cls) --start;
  while (end + 1 < static_cast<int64_t>(info.size()) && classOf(info[end + 1].Format) == cls) ++end;
  pick.Word = FLines[line].substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start + 1));
  pick.ClickPos = static_cast<int32_t>(ch - start);
  pick.Kind = cls == 1 ? ctCall : cls == 3 ? ctExchange : ctWord;
  return pick;
}

}  // namespace brenvo
