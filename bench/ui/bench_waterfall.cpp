// One waterfall column per audio block (46.875 a second): the column write
// alone, and with the scroll and the repaint of the uncovered column on a
// shown window of the main window's height.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>

#include "ui/quick_waterfall.h"

namespace brenvo {
namespace {

TSingleArray DisplayColumn() {
  TSingleArray C(224);
  for (size_t K = 0; K < C.size(); ++K) C[K] = float(std::fmod(0.37 * double(K), 14.0));
  return C;
}

void Settings(TQuickWaterFall& W) {
  W.SetFirstColor(Qt::white);
  W.SetLastColor(QColor(0x80, 0x00, 0x80));
  W.SetContrast(20.0f);
  W.SetBrightness(-15.0f);
  W.SetPseudoColors(true);
}

void BM_WaterfallPushHidden(benchmark::State& State) {
  TQuickWaterFall W;
  Settings(W);
  const TSingleArray C = DisplayColumn();
  for (auto _ : State) W.PushSpectrum(C);
  State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_WaterfallPushHidden);

// A shown waterfall of the main window's height; Repaint pushes and
// repaints the whole window instead of scrolling it.
void PushShown(benchmark::State& State, bool Repaint) {
  TQuickWaterFall W;
  Settings(W);
  W.resize(int(State.range(0)), 224);
  W.show();
  QApplication::processEvents();
  const TSingleArray C = DisplayColumn();
  for (auto _ : State) {
    W.PushSpectrum(C);
    if (Repaint)
      W.repaint();
    else
      QApplication::processEvents();  // scroll, paint the new column, flush
  }
  State.SetItemsProcessed(State.iterations());
  State.counters["paint_w"] = W.PaintRect().width();
}
BENCHMARK_CAPTURE(PushShown, scrolled, false)->Arg(1000)->Arg(3000);
BENCHMARK_CAPTURE(PushShown, full_repaint, true)->Arg(1000);

}  // namespace
}  // namespace brenvo
