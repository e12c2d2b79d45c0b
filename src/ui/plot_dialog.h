// Debugging view of the selected receiver's history: for the spectrum frames
// around one sample number it plots the mark and space amplitudes, their
// envelopes, the levels the decided bit state predicts, the noise floor and
// the tone probabilities, and marks the settled states and the characters.
// The main window opens it from a click on a character of the raw view.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

#include "receiver/rtty_receiver.h"

class QSlider;

namespace brenvo {

class TPaintArea;
class TRttyChannels;

inline constexpr int kPlotFrameStep = 6;  // pixels per spectrum frame

// The frames a plot Width pixels wide draws around a character's sample
// number, as 64-bit frame numbers of a receiver that has processed HistCnt
// spectra. The 32-bit sample number wraps after 2^32 spectra: it stands for
// the frame nearest the newest whose low 32 bits it holds. Only frames the
// ring still holds (the newest 65,536) are drawn; Last < First draws none.
struct TPlotFrames {
  int64_t Centre = 0;  // the sample number's frame, drawn at the centre column
  int64_t First = 0;
  int64_t Last = -1;
};
TPlotFrames PlotFrameRange(int64_t HistCnt, int32_t SampleNo, int Width);

// Pixels per unit of level at track-bar position P: 50 * 2^(-P/3).
double PlotScale(int Position);

// What the plot reads at each paint: a receiver's spectrum count and its
// ring (Entry(n) is the entry of frame n).
struct TPlotHistory {
  int64_t HistCnt = 0;
  std::function<const THistoryEntry&(int64_t)> Entry;
};

class TPlotDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TPlotDialog(QWidget* Parent = nullptr);
  ~TPlotDialog() override;

  // The frames around SampleNo (a character's TCharInfo::SampleNo) go to the
  // centre; repaints.
  void PlotAround(int32_t SampleNo);
  int32_t SampleNo() const { return FSampleNo; }

  // The history plotted: the receiver of the channel selected at paint time.
  // Chans must outlive the dialog (or be reset to null).
  void SetChannels(const TRttyChannels* Chans);
  // Set directly where no channel list exists; empty (or no history) draws
  // the frame of the plot only.
  std::function<TPlotHistory()> History;

  QSlider* ZoomBar() const { return FZoomBar; }
  TPaintArea* PlotArea() const { return FPlotArea; }

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void PlotAreaPaint(QPainter& Canvas);

  QSlider* FZoomBar;
  TPaintArea* FPlotArea;
  int32_t FSampleNo = 0;
};

}  // namespace brenvo
