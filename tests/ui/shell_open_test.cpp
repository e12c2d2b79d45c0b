#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QWidget>

#include "ui/shell_open.h"

namespace brenvo {
namespace {

TEST(ShellOpen, HandsTheOpenerAFileUrl) {
  const std::pair<QString, QString> cases[] = {
      {"/tmp/a b/help.html", "file:///tmp/a%20b/help.html"},
      {"/tmp/settings/", "file:///tmp/settings/"},  // a folder stays a folder
      {"notes.txt", QUrl::fromLocalFile(QDir::currentPath() + "/notes.txt").toString()},
      {"https://example.org/help", "https://example.org/help"},
  };
  for (const auto& [path, url] : cases) {
    QUrl opened;
    ShellOpen(path, [&](const QUrl& u) { return opened = u, false; });  // a failure changes nothing
    EXPECT_EQ(opened.toString(QUrl::FullyEncoded), url) << path.toStdString();
  }
}

TEST(ShellOpen, RefreshCursorLeavesTheWidgetsCursorAndNoOverride) {
  QWidget w;
  RefreshCursor(&w, Qt::WaitCursor);
  EXPECT_EQ(w.cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace brenvo
