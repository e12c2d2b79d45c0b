#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "decoder/message_storage.h"
#include "links/version.h"
#include "ui/about_dialog.h"
#include "ui/chars_dialog.h"
#include "ui/shell_open.h"

namespace brenvo {
namespace {

TCharInfo Record(uint8_t raw, uint8_t corr, uint8_t meta, TWordType type, TCharFlags flags) {
  TCharInfo r;
  r.RawCh = raw;
  r.CorrCh = corr;
  r.MetaCh = meta;
  r.ChType = type;
  r.CorrFlags = flags;
  return r;
}

TEST(CharsDialog, FormatCharInfo) {
  const struct {
    TCharInfo R;
    const char* Line;
  } cases[] = {
      {Record('K', 'K', 0, ctCall, {cfVisible, cfWeak}), "[K][K][#0]  ctCall  (cfVisible,cfWeak)"},
      {Record('_', '_', 0, ctWhiteSpace, {}), "[_][_][#0]  ctWhiteSpace  ()"},
      {Record(0xA9, '~', '~', ctSquelch, {cfSquelch, cfPreSquelch}),
       "[\u00A9][~][~]  ctSquelch  (cfPreSquelch,cfSquelch)"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatCharInfo(c.R), c.Line);
}

TEST(CharsDialog, ListsTheStorageWhenShown) {
  TMessageStorage ms;
  ms.PutRawChar(Record('C', 'C', 0, ctCQ, {cfVisible}));
  ms.PutRawChar(Record('Q', 'Q', 0, ctCQ, {cfVisible}));
  TCharsDialog d;
  d.Storage = [&] { return &ms; };
  d.show();
  EXPECT_EQ(d.Red()->toPlainText(), "[C][C][#0]  ctCQ  (cfVisible)\n[Q][Q][#0]  ctCQ  (cfVisible)");
}

TEST(AboutDialog, Mailto) {
  EXPECT_EQ(MailtoText("a@b.org", ""), "mailto:a@b.org");
  EXPECT_EQ(MailtoText("a@b.org", "BRENVO"), "mailto:a@b.org?subject=BRENVO");
}

TEST(AboutDialog, CaptionVersionAndLinks) {
  const uint32_t v = GetFileVersionWord(true);
  const QString caption = QStringLiteral("BRENVO %1.%2").arg(v >> 16).arg(v & 0xFFFF);
  QWidget main;
  TAboutDialog d(&main);
  EXPECT_EQ(main.windowTitle(), caption);
  EXPECT_EQ(d.ProgNameLabel()->text(), caption);
  EXPECT_EQ(d.windowTitle(), "About BRENVO");
  EXPECT_EQ(d.width(), 390);  // a short title leaves the width

  QStringList opened;
  d.Open = [&](const QString& url) { opened << url; };
  d.show();
  // No mailbox of the project's own: no mail line. The web line leads to
  // the user guide beside the program.
  EXPECT_FALSE(d.MailLabel()->isVisible());
  const QList<QLabel*> labels = d.findChildren<QLabel*>();
  const auto guide = std::find_if(labels.begin(), labels.end(), [](const QLabel* l) { return l->text() == "User guide:"; });
  ASSERT_NE(guide, labels.end());
  EXPECT_LT((*guide)->geometry().right(), d.GuideLabel()->x());  // side by side
  QTest::mouseClick(d.GuideLabel(), Qt::LeftButton);
  EXPECT_EQ(opened, QStringList({UserGuidePath()}));
  EXPECT_TRUE(UserGuidePath().startsWith(QCoreApplication::applicationDirPath() + '/'));
}

TEST(AboutDialog, LongTitleWidensTheDialog) {
  TAboutDialog d(nullptr, QStringLiteral("BRENVO multi-channel RTTY decoder"));
  const QRect label = d.ProgNameLabel()->geometry();
  ASSERT_GT(label.right() + 1 + 25 + 5, 390);
  EXPECT_EQ(d.width(), label.right() + 1 + 25 + 5);
}

}  // namespace
}  // namespace brenvo
