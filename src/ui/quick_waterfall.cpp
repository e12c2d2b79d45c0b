#include "ui/quick_waterfall.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace brenvo {

namespace {

// The 20 colours every palette keeps at 0..9 and 246..255.
constexpr std::array<QRgb, 10> kSystemLow = {
    qRgb(0x00, 0x00, 0x00), qRgb(0x80, 0x00, 0x00), qRgb(0x00, 0x80, 0x00), qRgb(0x80, 0x80, 0x00),
    qRgb(0x00, 0x00, 0x80), qRgb(0x80, 0x00, 0x80), qRgb(0x00, 0x80, 0x80), qRgb(0xC0, 0xC0, 0xC0),
    qRgb(0xC0, 0xDC, 0xC0), qRgb(0xA6, 0xCA, 0xF0)};
constexpr std::array<QRgb, 10> kSystemHigh = {
    qRgb(0xFF, 0xFB, 0xF0), qRgb(0xA0, 0xA0, 0xA4), qRgb(0x80, 0x80, 0x80), qRgb(0xFF, 0x00, 0x00),
    qRgb(0x00, 0xFF, 0x00), qRgb(0xFF, 0xFF, 0x00), qRgb(0x00, 0x00, 0xFF), qRgb(0xFF, 0x00, 0xFF),
    qRgb(0x00, 0xFF, 0xFF), qRgb(0xFF, 0xFF, 0xFF)};

const std::array<QColor, 6> kPseudoStops = {QColor(0x00, 0x23, 0x2F), QColor(0x30, 0x40, 0x80),
                                            QColor(0x00, 0xFF, 0xFF), QColor(0xFF, 0xFF, 0x00),
                                            QColor(0xFF, 0x00, 0x00), QColor(0xFF, 0xFF, 0xFF)};

// round(X) limited to Lo..Hi; X already finite or ±inf.
int32_t RoundLimited(double X, int32_t Lo, int32_t Hi) {
  return static_cast<int32_t>(std::clamp(std::nearbyint(X), double(Lo), double(Hi)));
}

void RequireFinite(float V, const char* What) {
  if (!std::isfinite(V)) throw std::invalid_argument(std::string("Waterfall: ") + What + " must be a finite number");
}

}  // namespace

TQuickWaterFall::TQuickWaterFall(QWidget* Parent)
    : QWidget(Parent), FBmp(3000, 256, QImage::Format_Indexed8), FColorTable(256, 0) {
  // Every pixel is painted from the history, so Qt need not clear first, and
  // a scroll can move the drawn pixels instead of repainting everything.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  resize(256, 256);
  BuildPalette();
  Clear();
}

TQuickWaterFall::~TQuickWaterFall() = default;

// ---- palette ----

void TQuickWaterFall::Interpolate(int32_t A, int32_t B) {
  const QRgb Ca = FColorTable[A], Cb = FColorTable[B];
  const auto Channel = [&](int (*Get)(QRgb), int32_t I) {
    const float Slope = float(Get(Cb) - Get(Ca)) / float(B - A);
    return RoundLimited(float(Get(Ca)) + std::nearbyint(float(I - A) * Slope), 0, 255);
  };
  for (int32_t I = A + 1; I < B; ++I) FColorTable[I] = qRgb(Channel(qRed, I), Channel(qGreen, I), Channel(qBlue, I));
}

void TQuickWaterFall::BuildPalette() {
  std::fill(FColorTable.begin(), FColorTable.end(), QRgb(0));
  std::copy(kSystemLow.begin(), kSystemLow.end(), FColorTable.begin());
  std::copy(kSystemHigh.begin(), kSystemHigh.end(), FColorTable.begin() + IdxE + 1);
  if (FPseudoColors) {
    BuildCustomPalette(kPseudoStops);
    return;
  }
  FColorTable[IdxB] = FFirstColor.rgb();
  FColorTable[IdxE] = FLastColor.rgb();
  Interpolate(IdxB, IdxE);
  const auto Bend = [this](int C) {
    return RoundLimited(255.0f * std::pow(float(C) / 255.0f, FGamma), 0, 255);
  };
  for (int32_t I = IdxB; I <= IdxE; ++I) {
    const QRgb C = FColorTable[I];
    FColorTable[I] = qRgb(Bend(qRed(C)), Bend(qGreen(C)), Bend(qBlue(C)));
  }
  FBgColor = QColor(FColorTable[IdxB]);
  ApplyColorTable();
}

void TQuickWaterFall::BuildCustomPalette(std::span<const QColor> Colors) {
  const auto N = int32_t(Colors.size());
  if (N < 2 || N > IdxE - IdxB + 1)
    throw std::invalid_argument("Waterfall: a custom palette needs 2 to 236 colours, got " + std::to_string(N));
  const float Step = float(IdxE - IdxB) / float(N - 1);
  int32_t Prev = IdxB;
  for (int32_t K = 0; K < N; ++K) {
    const int32_t At = RoundLimited(float(IdxB) + std::nearbyint(float(K) * Step), IdxB, IdxE);
    FColorTable[At] = Colors[size_t(K)].rgb();
    if (K > 0) Interpolate(Prev, At);
    Prev = At;
  }
  ApplyColorTable();
}

void TQuickWaterFall::ApplyColorTable() {
  FBmp.setColorTable(FColorTable);
  update();
}

uint8_t TQuickWaterFall::NearestIndex(QColor C) const {
  const QRgb Want = C.rgb();
  int32_t Best = 0;
  int32_t BestDist = INT32_MAX;
  for (int32_t I = 0; I < 256; ++I) {
    const int32_t R = qRed(FColorTable[I]) - qRed(Want), G = qGreen(FColorTable[I]) - qGreen(Want),
                  B = qBlue(FColorTable[I]) - qBlue(Want);
    const int32_t Dist = R * R + G * G + B * B;
    if (Dist < BestDist) {
      BestDist = Dist;
      Best = I;
    }
  }
  return uint8_t(Best);
}

// ---- properties ----

void TQuickWaterFall::SetFirstColor(QColor V) {
  FFirstColor = V;
  BuildPalette();
}

void TQuickWaterFall::SetLastColor(QColor V) {
  FLastColor = V;
  BuildPalette();
}

void TQuickWaterFall::SetGamma(float V) {
  RequireFinite(V, "gamma");
  if (V <= 0.0f) throw std::invalid_argument("Waterfall: gamma must be greater than 0");
  FGamma = V;
  BuildPalette();
}

void TQuickWaterFall::SetPseudoColors(bool V) {
  FPseudoColors = V;
  BuildPalette();
}

void TQuickWaterFall::SetContrast(float V) {
  RequireFinite(V, "contrast");
  FContrast = V;
}

void TQuickWaterFall::SetBrightness(float V) {
  RequireFinite(V, "brightness");
  FBrightness = V;
}

void TQuickWaterFall::SetHistoryLength(int32_t V) {
  if (V < 1 || V > MaxHistoryLength)
    throw std::invalid_argument("Waterfall: history length " + std::to_string(V) + " is outside 1 .. " +
                                std::to_string(MaxHistoryLength));
  if (V == FBmp.width()) return;
  const int32_t Old = FBmp.width();
  // copy() keeps the color table; new columns start as background.
  FBmp = FBmp.copy(0, 0, V, FBmp.height());
  if (V > Old) {
    const uint8_t Bg = NearestIndex(FBgColor);
    for (int32_t Row = 0; Row < FBmp.height(); ++Row) std::memset(FBmp.scanLine(Row) + Old, Bg, size_t(V - Old));
  }
  FOffset %= V;
  FDragPos = CorrectDragPos(FDragPos);
  FLastDragPos = CorrectDragPos(FLastDragPos);
  update();
}

void TQuickWaterFall::SetHistoryHeight(int32_t V) {
  if (V < 1 || V > MaxHistoryHeight)
    throw std::invalid_argument("Waterfall: history height " + std::to_string(V) + " is outside 1 .. " +
                                std::to_string(MaxHistoryHeight));
  if (V == FBmp.height()) return;
  FBmp = QImage(FBmp.width(), V, QImage::Format_Indexed8);
  FBmp.setColorTable(FColorTable);
  Clear();
}

void TQuickWaterFall::SetVertOffset(int32_t V) {
  if (V == FVertOffset) return;
  FVertOffset = V;
  update();
}

// ---- history ----

void TQuickWaterFall::Clear() {
  FBmp.fill(uint(NearestIndex(FBgColor)));
  FOffset = 0;
  FFracDy = 0.0f;
  update();
}

template <class F>
void TQuickWaterFall::PushColumn(int32_t N, F&& IndexOf) {
  const int32_t H = FBmp.height();
  uint8_t* const Base = FBmp.bits() + FOffset;
  const size_t Stride = size_t(FBmp.bytesPerLine());
  // Value 0 goes to the bottom row, each further value one row up.
  for (int32_t K = 0; K < N; ++K) Base[size_t(H - 1 - K) * Stride] = IndexOf(K);
  FOffset = (FOffset + 1) % FBmp.width();
  // The old pixels move left; Qt repaints only the uncovered column.
  scroll(-1, 0);
}

void TQuickWaterFall::PushSpectrum(const TSingleArray& Spectrum) {
  PushColumn(int32_t(std::min<size_t>(size_t(FBmp.height()), Spectrum.size())), [&](int32_t K) {
    const float V = Spectrum[size_t(K)];
    if (V == 999.0f) return RedIdx;
    if (V == 998.0f) return GreyIdx;
    if (!std::isfinite(V)) return uint8_t(IdxB);
    // In double the product is exact, so a value just below a half does not
    // round up as it would after a product rounded to single.
    return uint8_t(IdxB + RoundLimited(double(FContrast) * V + FBrightness, 0, IdxE - IdxB));
  });
}

void TQuickWaterFall::PushSpectrum(const float* Data, int32_t Count) {
  if (Count < 0) throw std::invalid_argument("Waterfall: negative value count");
  PushColumn(std::min(FBmp.height(), Count), [&](int32_t K) {
    const float V = Data[K];
    return std::isfinite(V) ? uint8_t(RoundLimited(V * FContrast + FBrightness, IdxB, IdxE)) : uint8_t(IdxB);
  });
}

void TQuickWaterFall::PushSeparator(QColor Color) {
  const uint8_t On = NearestIndex(Color), Off = NearestIndex(FBgColor);
  const int32_t H = FBmp.height();
  // Dotted from the top row down.
  PushColumn(H, [&](int32_t K) { return ((H - 1 - K) / 3) % 2 == 0 ? On : Off; });
}

void TQuickWaterFall::VertMove(float Dy) {
  if (std::isnan(Dy)) throw std::invalid_argument("Waterfall: vertical move by a value that is not a number");
  if (Dy == 0.0f) return;
  const int32_t H = FBmp.height();
  if (std::fabs(Dy) >= float(H)) {
    Clear();
    return;
  }
  const float D = Dy + FFracDy;
  const int32_t N = std::clamp(int32_t(std::nearbyint(D)), -H, H);
  FFracDy = D - float(N);
  const size_t Line = size_t(FBmp.bytesPerLine());
  uint8_t* Bits = FBmp.bits();
  const uint8_t Bg = NearestIndex(FBgColor);
  if (N > 0) {
    std::memmove(Bits, Bits + size_t(N) * Line, size_t(H - N) * Line);
    std::memset(Bits + size_t(H - N) * Line, Bg, size_t(N) * Line);
  } else if (N < 0) {
    std::memmove(Bits + size_t(-N) * Line, Bits, size_t(H + N) * Line);
    std::memset(Bits, Bg, size_t(-N) * Line);
  }
  update();
}

// ---- dragging ----

int32_t TQuickWaterFall::CorrectDragPos(int32_t P) const {
  return std::max(0, std::min(P, FBmp.width() - width()));
}

void TQuickWaterFall::ClearDrag() {
  FDragPos = 0;
  FLastDragPos = 0;
  update();
}

void TQuickWaterFall::mousePressEvent(QMouseEvent* Event) {
  if (FDragAllowed) {
    FMouseDownX = Event->position().toPoint().x();
    FWasMouseDown = true;
  }
  if (OnMouseDown) OnMouseDown(Event);
}

void TQuickWaterFall::mouseMoveEvent(QMouseEvent* Event) {
  if (FDragAllowed && FWasMouseDown && (Event->buttons() & Qt::LeftButton)) {
    const int32_t X = Event->position().toPoint().x();
    if (!FDragging && std::abs(X - FMouseDownX) > DragThreshold) {
      FDragging = true;
      setCursor(Qt::SplitHCursor);
    }
    if (FDragging) {
      FDragPos = CorrectDragPos(int32_t(std::clamp<int64_t>(int64_t(FLastDragPos) + X - FMouseDownX, 0, INT32_MAX)));
      update();
      if (OnDrag) OnDrag();
    }
  }
  if (OnMouseMove) OnMouseMove(Event);
}

void TQuickWaterFall::mouseReleaseEvent(QMouseEvent* Event) {
  FWasMouseDown = false;
  if (FDragging) {
    FDragging = false;
    setCursor(Qt::CrossCursor);
    FLastDragPos = FDragPos;
    return;
  }
  if (OnMouseUp) OnMouseUp(Event);
}

void TQuickWaterFall::resizeEvent(QResizeEvent*) {
  if (FBmp.width() < width()) {
    SetHistoryLength(std::min(width(), MaxHistoryLength));
    Clear();
  }
  FDragPos = CorrectDragPos(FDragPos);
  FLastDragPos = CorrectDragPos(FLastDragPos);
  if (OnResize) OnResize();
}

// ---- painting ----

void TQuickWaterFall::paintEvent(QPaintEvent* Event) {
  const QRect D = Event->rect();
  FPaintRect = D;
  QPainter Painter(this);
  const int64_t Len = FBmp.width(), H = FBmp.height();
  // Bitmap coordinates of the update rectangle: the newest column at the
  // right edge, the bottom row at the bottom (both shifted by the view).
  const int64_t Dx = int64_t(FOffset) - width() - FDragPos;
  const int64_t Dy = H - height() - FVertOffset;
  const int64_t Top = std::max<int64_t>(D.top() + Dy, 0);
  const int64_t Bottom = std::min<int64_t>(D.top() + D.height() + Dy, H);
  const auto Fill = [&](int64_t X0, int64_t Y0, int64_t X1, int64_t Y1) {
    if (X1 > X0 && Y1 > Y0) Painter.fillRect(QRect(int(X0), int(Y0), int(X1 - X0), int(Y1 - Y0)), FBgColor);
  };
  const int64_t DRight = int64_t(D.left()) + D.width(), DBottom = int64_t(D.top()) + D.height();
  if (Bottom <= Top) {
    Fill(D.left(), D.top(), DRight, DBottom);
  } else {
    Fill(D.left(), D.top(), DRight, Top - Dy);
    Fill(D.left(), Bottom - Dy, DRight, DBottom);
    // Bitmap columns [S0, S1) from SrcShift on, drawn where they belong.
    const auto Blit = [&](int64_t S0, int64_t S1, int64_t SrcShift) {
      if (S1 <= S0) return;
      const QRect Target(int(S0 - Dx), int(Top - Dy), int(S1 - S0), int(Bottom - Top));
      Painter.drawImage(Target, FBmp, QRect(int(S0 + SrcShift), int(Top), Target.width(), Target.height()));
    };
    const int64_t S0 = D.left() + Dx, S1 = DRight + Dx;
    // Left of column 0 the ring wraps to its end; further left than the
    // whole ring there is no history.
    Fill(S0 - Dx, Top - Dy, std::min(S1, -Len) - Dx, Bottom - Dy);
    Blit(std::max(S0, -Len), std::min(S1, int64_t(0)), Len);
    Blit(std::max(S0, int64_t(0)), std::min(S1, Len), 0);
    Fill(std::max(S0, Len) - Dx, Top - Dy, S1 - Dx, Bottom - Dy);
  }
  Painter.end();
  if (AfterPaint) AfterPaint();
}

}  // namespace brenvo
