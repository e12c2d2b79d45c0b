// The about box: the program's title with its major.minor version and the
// maker's contact links. Creating it gives the main window its caption.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;

#include "ui/app_title.h"

namespace brenvo {

inline constexpr const char* kMakerName = "The BRENVO developers";
// The project has no mailbox of its own: without an address the mail line
// stays hidden.
inline constexpr const char* kContactAddress = "";

// "major.minor" of the program's version ("0.2").
QString GetExeVersionText();
// "mailto:" and the address, then "?subject=" and the subject when there is
// one; nothing escaped.
QString MailtoText(const QString& Address, const QString& Subject);

class TAboutDialog : public QDialog {
  Q_OBJECT
 public:
  // MainWindow (may be null) gets the caption "<title> <version>"; the
  // dialog widens when that text does not fit.
  explicit TAboutDialog(QWidget* MainWindow, const QString& AppTitle = QString::fromLatin1(kAppTitle),
                        QWidget* Parent = nullptr);
  ~TAboutDialog() override;

  // A new mail to the maker's contact address, subject the title.
  void MailLabelClick();
  // The user guide beside the program, the project having no web site of
  // its own: OpenGuide, which the main window sets to its "Help File..."
  // (a box names the guide when the desktop cannot open it).
  void GuideLabelClick();
  std::function<void()> OpenGuide;
  void SendMail(const QString& Address, const QString& Subject);
  void OpenUrl(const QString& Url);
  // How links are opened (the desktop's handler unless replaced); errors are
  // not reported.
  std::function<void(const QString& Url)> Open;

  QLabel* ProgNameLabel() const { return FProgNameLabel; }
  QLabel* MailLabel() const { return FMailLabel; }
  QLabel* GuideLabel() const { return FGuideLabel; }

 public slots:
  // Escape and the window's close button end it with OK, like the button.
  void reject() override;

 private:
  QLabel* FProgNameLabel;
  QLabel* FMailLabel;
  QLabel* FGuideLabel;
  QString FTitle;
  QString FGuide;
};

}  // namespace brenvo
