#include "ui/image_list.h"

#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

// Resources of a static library are registered by hand, at namespace scope.
static void InitArtworkResource() { Q_INIT_RESOURCE(artwork); }

namespace brenvo {

namespace {

QPixmap Render(const char* name, QSize size) {
  static const bool registered = (InitArtworkResource(), true);
  (void)registered;
  QSvgRenderer svg(QString(":/brenvo/images/") + name + ".svg");
  QImage img(size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  if (svg.isValid()) {
    QPainter p(&img);
    svg.render(&p);
  }
  return QPixmap::fromImage(img);
}

const char* ToolImageName(int32_t index) {
  switch (index) {
    case tiSoundcard: return "soundcard";
    case tiLowerSideband: return "lower_sideband";
    case tiUpperSideband: return "upper_sideband";
    case tiClear: return "clear";
    case tiSmartDecoding: return "smart_decoding";
    case tiAutomaticQsx: return "automatic_qsx";
    case tiAfc: return "afc";
    case tiContest: return "contest";
    case tiHelp: return "help";
    case tiSave: return "save";
    case tiPlayBack: return "play_back";
    default: return nullptr;
  }
}

}  // namespace

QIcon TImageList::ToolImage(int32_t index) {
  const char* name = ToolImageName(index);
  if (!name) return {};
  QIcon icon;
  for (int scale : {1, 2}) icon.addPixmap(Render(name, QSize(kToolImageSize, kToolImageSize) * scale));
  return icon;
}

QPixmap TImageList::MeterDial() { return Render("meter_dial", QSize(kDialWidth, kDialHeight)); }

QIcon TImageList::ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(Render("brenvo", QSize(size, size)));
  return icon;
}

}  // namespace brenvo
