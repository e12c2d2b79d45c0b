// The settings file and the command line, without any toolkit: what the
// main window reads at creation, writes at close, and takes from "INI=",
// "PORT=" and "CAPTION=".
//
// Left and Top place the whole window, its frame included; Width and Height
// are its client area, the window without the frame (window_geometry.h), so
// whatever frame the window manager draws, what is saved is what comes back.
//
// Numbers are read and written in the C locale's form whatever the user's
// locale ("from_chars"; integers as std::to_string writes them).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

// Every key of the settings file, in the order it is read and written, with
// the value in force before loading.
struct TSettings {
  // [GUI]
  int32_t Left = 0;  // the frame's top left corner, screen pixels
  int32_t Top = 0;
  int32_t Width = 478;
  int32_t Height = 589;
  bool MeterVisible = true;
  int32_t WaterfallHeight = 224;    // the waterfall panel
  int32_t RawPanelHeight = 92;      // key Panel8Height: the raw text view
  int32_t EnginePanelHeight = 145;  // key Panel7Height: the external engine's view
  int32_t FontSize = 10;            // points, all three text views
  // [Decoders]
  bool Usb = false;
  bool AfcEnabled = true;
  bool HoppingEnabled = false;
  std::string Contest = "DX";
  int32_t DefaultHighTone = 2295;  // Hz
  std::string ExternalExe;         // read only
  // [Audio]
  int32_t DeviceIndex = 0;  // capture device, 0-based
  bool RightChannel = false;
  // [Server]
  int32_t Port = 7500;
  // [Debug], read only
  bool DebugMode = false;
  bool ExpertMode = false;  // also set by DebugMode

  bool operator==(const TSettings&) const = default;
};

// A screen's usable area in the window system's coordinates.
struct TScreenRect {
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

// What a loaded value must fit.
struct TSettingsLimits {
  // The window system's coordinates and sizes are 16-bit: no window is
  // placed farther out or made larger.
  static constexpr int32_t kMaxCoordinate = 32767;
  // The audio band the spectrum covers: no default tone lies above it.
  static constexpr int32_t kMaxToneHz = 3000;
  static constexpr int32_t kMinWaterfallHeight = 70;
  static constexpr int32_t kMinFontSize = 6;  // points: smaller is unreadable
  static constexpr int32_t kMaxFontSize = 200;

  // The smallest usable client area: the whole tool bar, the waterfall
  // panel and the text each at their least.
  int32_t MinWidth = 277;
  int32_t MinHeight = 222;
  int32_t MaxWaterfallHeight = 224;  // the waterfall panel's creation height
  int32_t MinPanelHeight = 30;       // of the two bottom text panels
  int32_t DeviceCount = 1;           // capture devices in the menu
  int32_t FftSize = 256;             // for the default tones' bins
  // The screens, the primary first; none: the position is not checked.
  std::vector<TScreenRect> Screens;
};

// The integer of a settings value or parameter: decimal, or hexadecimal
// after "$" or "0x", with an optional sign; nothing when the text is not
// one or the number does not fit 32 bits.
std::optional<int32_t> ParseIniInteger(std::string_view Text);

// Reads FileName (a missing file reads as empty); throws EFileError, naming
// the file and the reason, when it is refused (TIniFile). A key that is
// missing or does not parse keeps its value in Current; every integer is
// checked against its range before it is used, and one that does not fit
// keeps Current's value, or takes the nearest valid one where there is one:
// a Width, Height or FontSize below the smallest usable one, a Port outside
// 1 .. 65535, a DefaultHighTone outside 0 .. kMaxToneHz or whose tones fall
// outside the channel list's bins and a DeviceIndex outside the device list
// keep Current's value; Width and Height above the screens' extent or
// kMaxCoordinate, FontSize above its maximum, WaterfallHeight and the panel
// heights (at most kMaxCoordinate) are held in their ranges; a window on no
// screen, or with Left or Top beyond +-kMaxCoordinate, moves to the primary
// screen's top left corner (keeps Current's position when no screen is
// known). A Boolean is any integer, on when it is not 0. ExpertMode is on
// when DebugMode is.
TSettings LoadSettings(const std::string& FileName, const TSettings& Current, const TSettingsLimits& Limits);

// Writes every key but ExternalExe and those of [Debug], which keep their
// lines as the user wrote them, as does every other line of the file. Given
// Loaded, what LoadSettings gave, a key whose value has not changed since
// keeps its line as it stands (one that did not parse or fit among them). The
// file is replaced in one step; when that fails, or the file is refused, it
// is left as it was and EBrenvoError says "Unable to write to <FileName>:
// <reason>".
void SaveSettings(const std::string& FileName, const TSettings& S, const TSettings* Loaded = nullptr);

// The command line is the program's parameters without the program's own
// name. A parameter matches a prefix when its first characters, upper-cased,
// equal the prefix; its value is the rest, unchanged.

// The value of the first "INI=" with a value, else GetIniFileName().
std::string ResolveIniFileName(const std::vector<std::string>& Params);
// Port after every "PORT=" in order: a value in 1 .. 65535 replaces it, any
// other value or text is ignored.
int32_t ApplyPortParam(const std::vector<std::string>& Params, int32_t Port);
// Caption followed by " - " and the value of each "CAPTION=", in order.
std::string ApplyCaptionParam(const std::vector<std::string>& Params, std::string Caption);

// True when DefaultHighTone (in Hz) lies in 0 .. kMaxToneHz and both its
// default tones give bins where the channel list keeps live channels.
bool DefaultHighToneValid(int32_t DefaultHighTone, int32_t FftSize);

}  // namespace brenvo
