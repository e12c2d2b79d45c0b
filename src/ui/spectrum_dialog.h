// Debugging window that measures the stop element of the selected channel's
// characters: a histogram of their stop lengths as bars, and the length at
// its peak in milliseconds. The main window shows it (debug mode, help
// button) and feeds it through ISpectrumDialog while it is visible.
#pragma once

#include <QDialog>

#include "receiver/road_links.h"
#include "ui/stop_histo.h"

class QLabel;

namespace brenvo {

class TPaintArea;

class TSpectrumDialog : public QDialog, public ISpectrumDialog {
  Q_OBJECT
 public:
  explicit TSpectrumDialog(QWidget* Parent = nullptr);
  ~TSpectrumDialog() override;

  bool Visible() const override { return isVisible(); }
  // Every spectrum while visible: repaints (the bars only change with
  // UpdateHisto, but the window keeps up with the stream).
  void UpdateDisplay(const TSingleArray& Spectrum) override;
  // Counts a stop length (7 .. 34 spectrum frames, others are ignored); from
  // the eleventh on the readout shows the peak as "%.1f ms".
  void UpdateHisto(int32_t StopLen) override;

  // A click on the bars: counts and readout cleared.
  void BarsClick();

  const TStopHisto& StopHisto() const { return FStopHisto; }
  QString Readout() const;
  TPaintArea* Bars() const { return FBars; }

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void BarsPaint(QPainter& Canvas);

  TPaintArea* FBars;
  QLabel* FReadoutLabel;
  TStopHisto FStopHisto;
};

}  // namespace brenvo
