#include "ui/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <type_traits>
#include <variant>

#include "dsp/errors.h"
#include "files/data_folders.h"
#include "files/ini_file.h"
#include "receiver/rtty_channels.h"

namespace brenvo {
namespace {

using TField = std::variant<int32_t TSettings::*, bool TSettings::*, std::string TSettings::*>;
struct TKey {
  const char* Section;
  const char* Name;
  TField Field;
  bool Written;
};

// The file's keys in the order they are read and written.
const TKey kKeys[] = {
    {"GUI", "Left", &TSettings::Left, true},
    {"GUI", "Top", &TSettings::Top, true},
    {"GUI", "Width", &TSettings::Width, true},
    {"GUI", "Height", &TSettings::Height, true},
    {"GUI", "MeterVisible", &TSettings::MeterVisible, true},
    {"GUI", "WaterfallHeight", &TSettings::WaterfallHeight, true},
    {"GUI", "Panel8Height", &TSettings::RawPanelHeight, true},
    {"GUI", "Panel7Height", &TSettings::EnginePanelHeight, true},
    {"GUI", "FontSize", &TSettings::FontSize, true},
    {"Decoders", "Usb", &TSettings::Usb, true},
    {"Decoders", "AfcEnabled", &TSettings::AfcEnabled, true},
    {"Decoders", "HoppingEnabled", &TSettings::HoppingEnabled, true},
    {"Decoders", "Contest", &TSettings::Contest, true},
    {"Decoders", "DefaultHighTone", &TSettings::DefaultHighTone, true},
    {"Decoders", "ExternalExe", &TSettings::ExternalExe, false},
    {"Audio", "DeviceIndex", &TSettings::DeviceIndex, true},
    {"Audio", "RightChannel", &TSettings::RightChannel, true},
    {"Server", "Port", &TSettings::Port, true},
    {"Debug", "DebugMode", &TSettings::DebugMode, false},
    {"Debug", "ExpertMode", &TSettings::ExpertMode, false},
};

// The value after Prefix when Param starts with it in any letter case.
std::optional<std::string> ParamValue(const std::string& param, std::string_view prefix) {
  if (param.size() < prefix.size()) return std::nullopt;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = param[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return std::nullopt;
  }
  return param.substr(prefix.size());
}

bool Intersects(const TSettings& s, const TScreenRect& r) {
  // 64 bits: a far-off position plus a size must not wrap round.
  const int64_t l = std::max<int64_t>(s.Left, r.Left);
  const int64_t t = std::max<int64_t>(s.Top, r.Top);
  const int64_t rt = std::min(int64_t{s.Left} + s.Width, int64_t{r.Left} + r.Width);
  const int64_t b = std::min(int64_t{s.Top} + s.Height, int64_t{r.Top} + r.Height);
  return l < rt && t < b;
}

// Values outside what the window can use: the nearest valid one, or Current's.
// Every integer is checked here before anything computes with it.
void Validate(TSettings& s, const TSettings& current, const TSettingsLimits& limits) {
  using L = TSettingsLimits;
  // Smaller would clip the tool bar or the text: the size the window is
  // made with instead.
  if (s.Width < limits.MinWidth) s.Width = current.Width;
  if (s.Height < limits.MinHeight) s.Height = current.Height;
  // No larger than the window system makes a window, nor than all the
  // screens together, as the window system would hold it anyway, only later
  // and less predictably.
  int64_t maxWidth = L::kMaxCoordinate, maxHeight = L::kMaxCoordinate;
  if (!limits.Screens.empty()) {
    int64_t l = INT64_MAX, t = INT64_MAX, r = INT64_MIN, b = INT64_MIN;
    for (const TScreenRect& sr : limits.Screens) {
      l = std::min<int64_t>(l, sr.Left), t = std::min<int64_t>(t, sr.Top);
      r = std::max(r, int64_t{sr.Left} + sr.Width), b = std::max(b, int64_t{sr.Top} + sr.Height);
    }
    maxWidth = std::min<int64_t>(maxWidth, std::max<int64_t>(limits.MinWidth, r - l));
    maxHeight = std::min<int64_t>(maxHeight, std::max<int64_t>(limits.MinHeight, b - t));
  }
  s.Width = static_cast<int32_t>(std::min<int64_t>(s.Width, maxWidth));
  s.Height = static_cast<int32_t>(std::min<int64_t>(s.Height, maxHeight));
  const auto placeable = [](int32_t v) { return v >= -L::kMaxCoordinate && v <= L::kMaxCoordinate; };
  if (!placeable(s.Left) || !placeable(s.Top) ||
      (!limits.Screens.empty() && std::none_of(limits.Screens.begin(), limits.Screens.end(),
                                               [&](const TScreenRect& r) { return Intersects(s, r); }))) {
    const bool screen = !limits.Screens.empty();
    s.Left = screen ? limits.Screens.front().Left : current.Left;
    s.Top = screen ? limits.Screens.front().Top : current.Top;
  }
  s.WaterfallHeight =
      std::clamp(s.WaterfallHeight, L::kMinWaterfallHeight, std::max(L::kMinWaterfallHeight, limits.MaxWaterfallHeight));
  s.RawPanelHeight = std::clamp(s.RawPanelHeight, limits.MinPanelHeight, L::kMaxCoordinate);
  s.EnginePanelHeight = std::clamp(s.EnginePanelHeight, limits.MinPanelHeight, L::kMaxCoordinate);
  s.FontSize = s.FontSize < L::kMinFontSize ? current.FontSize : std::min(s.FontSize, L::kMaxFontSize);
  if (!DefaultHighToneValid(s.DefaultHighTone, limits.FftSize)) s.DefaultHighTone = current.DefaultHighTone;
  if (s.DeviceIndex < 0 || s.DeviceIndex >= limits.DeviceCount) s.DeviceIndex = current.DeviceIndex;
  if (s.Port < 1 || s.Port > 65535) s.Port = current.Port;
}

}  // namespace

std::optional<int32_t> ParseIniInteger(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  text.remove_prefix(first);
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars would take a second sign; only digits may follow.
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(v);
}

bool DefaultHighToneValid(int32_t defaultHighTone, int32_t fftSize) {
  if (defaultHighTone < 0 || defaultHighTone > TSettingsLimits::kMaxToneHz) return false;
  // The tones' bins are the same pair in either sideband.
  TRttyChannels chans;
  chans.SetFftSize(fftSize);
  chans.DefaultHighTone = defaultHighTone;
  const int32_t lo = std::min(chans.DefaultMarkBin(), chans.DefaultSpaceBin());
  const int32_t hi = std::max(chans.DefaultMarkBin(), chans.DefaultSpaceBin());
  return lo >= TRttyChannels::kMinMarkBin && hi <= chans.FftSize() - 17;
}

TSettings LoadSettings(const std::string& fileName, const TSettings& current, const TSettingsLimits& limits) {
  const TIniFile ini(fileName);
  if (!ini.ReadError().empty())
    throw EFileError("Cannot read the settings file " + fileName + ": " + ini.ReadError(), ini.ReadError());
  TSettings s = current;
  for (const TKey& k : kKeys) {
    // A missing key or one that does not parse keeps the value it has.
    std::visit(
        [&](auto m) {
          using T = std::remove_cvref_t<decltype(s.*m)>;
          if constexpr (std::is_same_v<T, std::string>) {
            s.*m = ini.ReadString(k.Section, k.Name, s.*m);
          } else if (const auto v = ParseIniInteger(ini.ReadString(k.Section, k.Name, ""))) {
            s.*m = static_cast<T>(std::is_same_v<T, bool> ? *v != 0 : *v);
          }
        },
        k.Field);
  }
  s.ExpertMode = s.ExpertMode || s.DebugMode;
  Validate(s, current, limits);
  return s;
}

void SaveSettings(const std::string& fileName, const TSettings& s, const TSettings* loaded) {
  TIniFile ini(fileName);
  for (const TKey& k : kKeys) {
    if (!k.Written) continue;
    std::visit(
        [&](auto m) {
          // What the file says stays when it is still in force: a value
          // that did not read is not replaced by the default taken instead.
          if (loaded && s.*m == loaded->*m && ini.KeyExists(k.Section, k.Name)) return;
          using T = std::remove_cvref_t<decltype(s.*m)>;
          if constexpr (std::is_same_v<T, std::string>)
            ini.WriteString(k.Section, k.Name, s.*m);
          else if constexpr (std::is_same_v<T, bool>)
            ini.WriteString(k.Section, k.Name, s.*m ? "1" : "0");
          else
            ini.WriteString(k.Section, k.Name, std::to_string(s.*m));
        },
        k.Field);
  }
  try {
    ini.UpdateFile();
  } catch (const EFileError& e) {
    throw EBrenvoError("Unable to write to " + fileName + ": " + e.Reason);
  }
}

std::string ResolveIniFileName(const std::vector<std::string>& params) {
  for (const std::string& p : params) {
    // An empty name would be no file at all: the next one, or the default.
    if (auto v = ParamValue(p, "INI="); v && !v->empty()) return *v;
  }
  return GetIniFileName();
}

int32_t ApplyPortParam(const std::vector<std::string>& params, int32_t port) {
  for (const std::string& p : params) {
    const auto v = ParamValue(p, "PORT=");
    if (!v) continue;
    const int32_t n = ParseIniInteger(*v).value_or(0);
    if (n >= 1 && n <= 65535) port = n;
  }
  return port;
}

std::string ApplyCaptionParam(const std::vector<std::string>& params, std::string caption) {
  for (const std::string& p : params)
    if (auto v = ParamValue(p, "CAPTION=")) caption.append(" - ").append(*v);
  return caption;
}

}  // namespace brenvo
