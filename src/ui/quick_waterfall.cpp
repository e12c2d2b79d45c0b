#include "ui/quick_waterfall.h"

namespace brenvo {

TQuickWaterFall::TQuickWaterFall(QWidget* parent) : QWidget(parent) {}
TQuickWaterFall::~TQuickWaterFall() = default;

void TQuickWaterFall::PushSpectrum(const TSingleArray&) {}

}  // namespace brenvo
