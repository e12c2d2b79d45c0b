// The real boxes and dialogs, answered by the test: a short error still
// shows its whole title, and a recording's line in the open dialog shows
// every column whole.
#include "ui/user_prompts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <fstream>

#include "support/temp_dir.h"

namespace brenvo {
namespace {

TEST(UserPrompts, RoomForTheTitleAndEveryColumn) {
  testing::TempDir dir;
  std::ofstream(dir.Path() / "2026-12-07 120000.wav") << "not a recording";
  TQtUserPrompts prompts;
  int boxWidth = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    boxWidth = box->width();
    box->accept();
  });
  prompts.ShowError("BRENVO", "Not a WAV file");
  EXPECT_GE(boxWidth, 320);  // a title bar's buttons and "BRENVO" whole

  std::vector<int> cut;  // columns narrower than their contents
  int overhang = 1;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_TRUE(d);
    auto* view = d->findChild<QTreeView*>();
    ASSERT_TRUE(view);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; }, 5000));
    const QHeaderView* header = view->header();
    for (int c = 0; c < header->count(); ++c) {
      const QModelIndex line = view->model()->index(0, c, view->rootIndex());
      if (header->sectionSize(c) < view->sizeHintForIndex(line).width()) cut.push_back(c);
    }
    overhang = header->length() - view->viewport()->width();
    d->reject();
  });
  TFileDialogOptions options;
  options.Title = "Play Back Audio";
  options.Filter = "WAV Files (*.wav)|*.wav";
  options.InitialDir = dir.Path().string() + "/";
  std::string chosen;
  EXPECT_FALSE(prompts.ExecuteOpenDialog(options, "", chosen));
  EXPECT_EQ(cut, std::vector<int>{});
  EXPECT_LE(overhang, 0);
}

}  // namespace
}  // namespace brenvo
