#include "ui/about_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "links/version.h"
#include "ui/shell_open.h"

namespace brenvo {

namespace {

// A label that calls back when clicked.
class TLinkLabel : public QLabel {
 public:
  TLinkLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
      : QLabel(text, parent), FOnClick(std::move(onClick)) {
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) FOnClick();
  }

 private:
  std::function<void()> FOnClick;
};

QLabel* PlainLabel(const QString& text, QWidget* parent, int x, int y) {
  auto* l = new QLabel(text, parent);
  l->move(x, y);
  l->adjustSize();
  return l;
}

QLabel* TitleLabel(const QString& text, QWidget* parent, QColor colour, int x, int y) {
  auto* l = new QLabel(text, parent);
  QFont f(QStringLiteral("Verdana"));
  f.setPixelSize(29);
  f.setBold(true);
  l->setFont(f);
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, colour);
  l->setPalette(p);
  l->setAutoFillBackground(false);
  l->setAttribute(Qt::WA_TranslucentBackground);
  l->setContentsMargins(0, 0, 0, 0);
  l->move(x, y);
  l->adjustSize();
  return l;
}
}  // namespace

QString GetExeVersionText() {
  const uint32_t v = GetFileVersionWord(true);
  return QString::number(v >> 16) + QLatin1Char('.') + QString::number(v & 0xFFFF);
}

QString MailtoText(const QString& address, const QString& subject) {
  QString text = QStringLiteral("mailto:") + address;
  if (!subject.isEmpty()) text += QStringLiteral("?subject=") + subject;
  return text;
}

TAboutDialog::TAboutDialog(QWidget* mainWindow, const QString& appTitle, QWidget* parent)
    : QDialog(parent), FTitle(appTitle), FGuide(UserGuidePath()) {
  Open = [](const QString& url) { ShellOpen(url); };
  auto* bevel = new QFrame(this);
  bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  const QString text = appTitle + QLatin1Char(' ') + GetExeVersionText();
  // The aqua copy up and left of the blue one shows as its shadow.
  TitleLabel(text, this, QColor(0x00, 0xFF, 0xFF), 67, 16);
  FProgNameLabel = TitleLabel(text, this, QColor(0x00, 0x00, 0xFF), 70, 18);
  PlainLabel(QStringLiteral("Made by the BRENVO developers"), this, 70, 54);
  const bool mail = *kContactAddress != '\0';
  PlainLabel(QStringLiteral("Author: "), this, 70, 72)->setVisible(mail);
  FMailLabel = new TLinkLabel(QString::fromLatin1(kMakerName), this, [this] { MailLabelClick(); });
  FMailLabel->setToolTip(QString::fromLatin1(kContactAddress));
  FMailLabel->move(130, 72);
  FMailLabel->adjustSize();
  FMailLabel->setVisible(mail);
  // Without the mail line the guide's line takes its place.
  const int guideY = mail ? 88 : 72;
  const QLabel* guide = PlainLabel(QStringLiteral("User guide:"), this, 70, guideY);
  FGuideLabel = new TLinkLabel(QFileInfo(FGuide).fileName(), this, [this] { GuideLabelClick(); });
  FGuideLabel->setToolTip(FGuide);
  FGuideLabel->move(std::max(130, guide->geometry().right() + 6), guideY);
  FGuideLabel->adjustSize();
  QLabel* freeware = PlainLabel(QStringLiteral("Freeware"), this, 16, 114);
  QFont f = freeware->font();
  f.setPixelSize(13);
  f.setBold(true);
  f.setItalic(true);
  freeware->setFont(f);
  QPalette p = freeware->palette();
  p.setColor(QPalette::WindowText, QColor(0xFF, 0x00, 0xFF));
  freeware->setPalette(p);
  freeware->adjustSize();
  auto* button = new QPushButton(QStringLiteral("&Close"), this);
  button->setDefault(true);
  connect(button, &QPushButton::clicked, this, &QDialog::accept);
  auto* image = new QLabel(this);
  image->setGeometry(25, 22, 32, 32);
  image->setPixmap(QApplication::windowIcon().pixmap(32, 32));
  FProgNameLabel->raise();

  setWindowTitle(QStringLiteral("About ") + appTitle);
  const QRect title = FProgNameLabel->geometry();
  const int w = std::max(390, title.x() + title.width() + image->x() + 5);
  setFixedSize(w, 142);
  bevel->setGeometry(8, 8, w - 16, 100);
  button->setGeometry(w - 8 - 75, 112, 75, 25);
  if (mainWindow) mainWindow->setWindowTitle(text);
}

TAboutDialog::~TAboutDialog() = default;

void TAboutDialog::reject() { accept(); }

void TAboutDialog::MailLabelClick() { SendMail(QString::fromLatin1(kContactAddress), FTitle); }

void TAboutDialog::GuideLabelClick() {
  if (OpenGuide)
    OpenGuide();
  else
    OpenUrl(FGuide);
}

void TAboutDialog::SendMail(const QString& address, const QString& subject) {
  if (Open) Open(MailtoText(address, subject));
}

void TAboutDialog::OpenUrl(const QString& url) {
  if (Open) Open(url);
}

}  // namespace brenvo
