#include "receiver/message_text_model.h"

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
  for (char c : text) {
    const uint8_t b = static_cast<uint8_t>(c);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char32_t{b});
  }
  return out;
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
  if (f.Has(cfNewLine)) AppendChar(kCr, nullptr);
  if (!IsShown(r)) return;
  const TTextCharInfo info{RawFormat(r), r.SampleNo, r.Utc};
  uint8_t c = r.RawCh;
  if (c == '_' && !ShowCtrlChars) c = ' ';
  AppendChar(c, &info);
}

void TMessageTextModel::DeleteCorrChar(const TCharInfo& r) {
  if (FLines.empty()) return;
  const std::size_t last = FLines.size() - 1;
  if (IsShown(r) && !FLines[last].empty()) {
    FLines[last].pop_back();
    FInfo[last].pop_back();
  }
  const TCharFlags f = r.CorrFlags;
  if (f.Has(cfVisNewLine)) {
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(last));
    FInfo.erase(FInfo.begin() + static_cast<std::ptrdiff_t>(last));
  }
}

void TMessageTextModel::AppendChar(uint8_t c, const TTextCharInfo* info) {
  if (c == kCr || FLines.empty()) {
    FLines.emplace_back();
    FInfo.emplace_back();
  }
  if (c == kCr) return;
  FLines.back().push_back(static_cast<char>(c));
  FInfo.back().push_back(info ? *info : TTextCharInfo{});
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

}  // namespace brenvo
