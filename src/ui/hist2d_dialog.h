// The 2-D level histogram: every receiver hands it two samples per settled
// decoder step (IHist2dSink, through TRttyChannels::SetHist2d). It draws the
// whole table as a colour map, coloured by the model density where data
// lies, and one row as a curve beside the model. In debug mode the counts
// are loaded from "Hist2D.bin" in the settings folder at creation and
// written back at destruction. No command opens it.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <string>

#include "receiver/rtty_receiver.h"
#include "ui/hist2d_table.h"

namespace brenvo {

class TPaintArea;

class THist2dDialog : public QDialog, public IHist2dSink {
  Q_OBJECT
 public:
  // DebugMode: the table lives in FileName (empty: the settings folder's
  // "Hist2D.bin"), loaded now and saved when the dialog is destroyed.
  explicit THist2dDialog(bool DebugMode, QWidget* Parent = nullptr, std::string FileName = {});
  // In debug mode saves the table; a failure goes to OnError when set.
  ~THist2dDialog() override;

  // From every receiver: no allocation, two roundings, at most two counts.
  void AddSample(float Amp, float Env) override { FTable.AddSample(Amp, Env); }

  // The file's full path.
  std::string FileName() const;
  // Why the table could not be loaded at creation ("" when it was, or when
  // there was no file): for the main window's message box.
  const std::string& LoadError() const { return FLoadError; }
  // Reports a failed save at destruction (default: a warning on stderr).
  std::function<void(const QString& Text)> OnError;

  const THist2dTable& Table() const { return FTable; }
  // The row shown as a curve (expected-level index), 2 at creation.
  int SelectedEnv() const { return FSelectedEnv; }
  TPaintArea* LevelMap() const { return FLevelMap; }
  TPaintArea* RowCurve() const { return FRowCurve; }

 private:
  void LevelMapPaint(QPainter& Canvas);
  void RowCurvePaint(QPainter& Canvas);

  TPaintArea* FLevelMap;
  TPaintArea* FRowCurve;
  QTimer FRepaintTimer;
  THist2dTable FTable;
  int FSelectedEnv = 2;
  bool FDebugMode;
  std::string FFileName;
  std::string FLoadError;
  QString FMouseText;  // the amplitude under the mouse over the row curve
};

}  // namespace brenvo
