// The window's artwork, drawn from our SVG files in the program's resources
// (no icon theme needed): the tool-bar pictures by index, the meter's dial
// and the program's icon.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <cstdint>

namespace brenvo {

// Tool-bar picture indices.
enum TToolImage : int32_t {
  tiSoundcard = 0,
  tiLowerSideband = 2,
  tiUpperSideband = 3,
  tiClear = 4,
  tiSmartDecoding = 5,
  tiAutomaticQsx = 6,
  tiAfc = 7,
  tiContest = 8,
  tiHelp = 9,
  tiSave = 10,
  tiPlayBack = 11,
};

class TImageList {
 public:
  // Edge of a tool-bar picture in pixels.
  static constexpr int kToolImageSize = 16;
  static constexpr int kDialWidth = 125;
  static constexpr int kDialHeight = 41;

  // A picture of the tool bar (sharp on high-density screens too); a null
  // icon for an index without one.
  static QIcon ToolImage(int32_t Index);
  // The meter's dial, 125 x 41 pixels.
  static QPixmap MeterDial();
  // The program's own icon (a small waterfall with two tone traces), from
  // 16 to 256 pixels.
  static QIcon ProgramIcon();
};

}  // namespace brenvo
