#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>

#include "files/file_replace.h"
#include "support/temp_dir.h"
#include "ui/hist2d_dialog.h"
#include "ui/paint_area.h"

namespace brenvo {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct TSampleCase {
  float Amp, Env;
  int EnvIdx;  // -1: not counted
  int AmpIdx;  // -1: not in the table
};

TEST(Hist2dTable, AddSample) {
  const TSampleCase cases[] = {
      {1.2f, 1.0f, 2, 2},     {0.25f, 0.75f, 2, 0},  // halves to even
      {70.0f, 2.0f, 4, -1},   {2.0f, 70.0f, -1, -1}, {2.0f, 63.75f, -1, -1}, {63.7f, 63.7f, 127, 127},
      {kNaN, 1.0f, 2, -1},    {-1.0f, 1.0f, 2, -1},  {1.0f, kNaN, -1, -1},   {1.0f, -1.0f, -1, -1},
  };
  for (const TSampleCase& c : cases) {
    THist2dTable t;
    t.AddSample(c.Amp, c.Env);
    int64_t envTotal = 0, histTotal = 0;
    for (int e = 0; e < kHist2dSize; ++e) {
      envTotal += t.EnvCnt(e);
      for (int m = 0; m < kHist2dSize; ++m) histTotal += t.Hist(e, m);
    }
    SCOPED_TRACE(::testing::Message() << c.Amp << ", " << c.Env);
    EXPECT_EQ(envTotal, c.EnvIdx >= 0);
    EXPECT_EQ(histTotal, c.AmpIdx >= 0);
    if (c.EnvIdx >= 0) {
      EXPECT_EQ(t.EnvCnt(c.EnvIdx), 1);
    }
    if (c.AmpIdx >= 0) {
      EXPECT_EQ(t.Hist(c.EnvIdx, c.AmpIdx), 1);
    }
  }
}

TEST(Hist2dTable, Density) {
  // Computed apart from this code, with the widths rounded to single.
  const struct {
    float A, E;
    double D;
  } cases[] = {{0, 0, 0.0},          {0, 1, 0.09275777204151858}, {1, 1, 1.3287595754893489},
               {0.5f, 0, 10.510405522675342}, {2, 4, 0.19882589713132506}, {10, 8, 0.18702919907720575},
               {63.5f, 63.5f, 0.13652269510121942}};
  for (const auto& c : cases) EXPECT_NEAR(Hist2dDensity(c.A, c.E), c.D, 1e-6 * c.D) << c.A << " " << c.E;
  // At A = 0 only the normal part is left: half of sqrt(E) g(0).
  const double sigma = 0.17648166f * 4.0f + 0.46745061f;
  EXPECT_NEAR(Hist2dDensity(0, 4), 0.5 * 2.0 * std::exp(-16 / (2 * sigma * sigma)) / (std::sqrt(2 * M_PI) * sigma),
              1e-15);
}

void PutCount(std::string& b, int e, int m, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[size_t(4 * (128 * e + m) + k)] = char(v >> (8 * k));
}

TEST(Hist2dTable, FileRoundTrip) {
  testing::TempDir dir;
  const auto file = dir.Path() / "Hist2D.bin";
  THist2dTable a;
  a.AddSample(1.2f, 1.0f);
  a.AddSample(1.0f, 1.0f);
  a.AddSample(70.0f, 1.0f);  // in EnvCnt only
  a.AddSample(3.0f, 20.0f);
  ASSERT_EQ(a.Save(file.string()), "");
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
  const std::string bytes = ReadFileBytes(file.string());
  ASSERT_EQ(bytes.size(), kHist2dFileBytes);
  EXPECT_EQ(bytes[4 * (128 * 2 + 2)], 2);  // little-endian count of (2, 2)

  THist2dTable b;
  ASSERT_EQ(b.Load(file.string()), "");
  EXPECT_EQ(b.ToBytes(), a.ToBytes());
  EXPECT_EQ(b.EnvCnt(2), 2);  // the row sum: the sample beyond the table is not stored
  EXPECT_EQ(b.EnvCnt(40), 1);
}

TEST(Hist2dTable, BadFiles) {
  testing::TempDir dir;
  const auto file = dir.Path() / "Hist2D.bin";
  std::string bytes(kHist2dFileBytes + 10, '\0');  // overlong: the rest is ignored
  PutCount(bytes, 1, 2, 258);
  PutCount(bytes, 1, 3, 0xFFFFFFFF);  // -1 reads as 0
  PutCount(bytes, 5, 0, INT32_MAX);
  PutCount(bytes, 5, 1, INT32_MAX);
  WriteFileReplacing(file.string(), bytes);
  THist2dTable t;
  ASSERT_EQ(t.Load(file.string()), "");
  EXPECT_EQ(t.Hist(1, 2), 258);
  EXPECT_EQ(t.Hist(1, 3), 0);
  EXPECT_EQ(t.EnvCnt(1), 258);
  EXPECT_EQ(t.EnvCnt(5), INT32_MAX);  // the row sum saturates
  t.AddSample(0.0f, 2.5f);            // (5, 0): both counts stay at the maximum
  EXPECT_EQ(t.Hist(5, 0), INT32_MAX);
  EXPECT_EQ(t.EnvCnt(5), INT32_MAX);

  bytes.resize(1000);  // short: refused, the table stays empty, the file is kept
  WriteFileReplacing(file.string(), bytes);
  THist2dTable s;
  EXPECT_NE(s.Load(file.string()), "");
  EXPECT_EQ(s.ToBytes(), THist2dTable().ToBytes());
  EXPECT_EQ(s.EnvCnt(1), 0);
  EXPECT_EQ(s.RowShare(1, 2), 0.0f);  // no division by an empty row
  EXPECT_EQ(ReadFileBytes(file.string() + ".bad"), bytes);

  EXPECT_NE(s.Save((dir.Path() / "missing" / "Hist2D.bin").string()), "");
}

TEST(Hist2dTable, RampStopsAndCellColours) {
  const std::pair<int, QRgb> stops[] = {
      {0, 0x304080}, {64, 0x00FFFF}, {128, 0xFFFF00}, {191, 0xFF0000}, {255, 0xFFFFFF}};
  for (auto [i, c] : stops) EXPECT_EQ(Hist2dPalette()[size_t(i)], c) << i;
  // 7650 * 0.18 * density, computed apart from this code: 195.50012 and
  // 169.49979 round apart from a factor one off, 107.37 is the cell drawn
  // below, and the peak of a low level is beyond the ramp.
  const struct {
    int E, M, Index;
  } cells[] = {{76, 67, 196}, {41, 50, 169}, {20, 12, 107}, {2, 1, 255}, {0, 127, 0}};
  for (const auto& c : cells) EXPECT_EQ(Hist2dCellColourIndex(c.E, c.M), c.Index) << c.E << " " << c.M;
}

// A file that cannot be read (a pipe, a link to a folder, a huge file, all
// the test's own) goes aside as ".bad", whatever it is, and the
// save writes a fresh table in its place; nothing of it is lost.
TEST(Hist2dTable, FilesItCannotReadAreKeptAside) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const fs::path file = dir.Path() / "Hist2D.bin", bad = dir.Path() / "Hist2D.bin.bad", folder = dir.Path() / "f";
  const std::string big(kHist2dMaxFileBytes + 1, '\1');
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }, "not a regular file"},
      {[&] { fs::create_directory(folder), fs::create_symlink(folder, file); }, "not a regular file"},
      {[&] { WriteFileReplacing(file.string(), big); }, "larger than 1 MiB"},
  };
  for (const auto& [make, reason] : cases) {
    SCOPED_TRACE(reason);
    fs::remove(file);
    fs::remove(bad);
    make();
    const auto type = fs::symlink_status(file).type();
    THist2dTable t;
    EXPECT_EQ(t.Load(file.string()), "Cannot read \"" + file.string() + "\": " + reason +
                                         "; the histogram starts empty, and the file is kept as \"" + bad.string() +
                                         "\".");
    EXPECT_EQ(fs::symlink_status(bad).type(), type);
    t.AddSample(1.0f, 1.0f);
    ASSERT_EQ(t.Save(file.string()), "");
    const std::vector<uint8_t> saved = t.ToBytes();
    EXPECT_EQ(ReadFileBytes(file.string()), std::string(saved.begin(), saved.end()));
  }
  EXPECT_EQ(ReadFileBytes(bad.string()), big);
}

// A file that can be neither read nor kept aside (a folder of that name is
// in the way) is left as it is at exit, as the message says.
TEST(Hist2dTable, AFileThatCannotGoAsideIsNotWrittenOver) {
  testing::TempDir dir;
  const std::string file = (dir.Path() / "Hist2D.bin").string(), old(1000, '\1');
  std::filesystem::create_directory(file + ".bad");
  WriteFileReplacing(file, old);
  THist2dTable t;
  EXPECT_EQ(t.Load(file), "Cannot read \"" + file + "\": 1000 bytes, not 65536; the histogram starts empty, and the "
                          "file, which cannot be kept aside (Is a directory), is not written over.");
  t.AddSample(1.0f, 1.0f);
  EXPECT_EQ(t.Save(file), "");
  EXPECT_EQ(ReadFileBytes(file), old);
}

// Saved as the settings file is: through a link to the file it names, with
// the file's mode kept; a file marked read-only is left as it is.
TEST(Hist2dTable, SavedAsTheSettingsFileIs) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const fs::path real = dir.Path() / "elsewhere.bin", link = dir.Path() / "Hist2D.bin";
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  THist2dTable t;
  t.AddSample(1.0f, 1.0f);
  ASSERT_EQ(t.Save(real.string()), "");
  fs::permissions(real, mode);
  fs::create_symlink(real, link);
  t.AddSample(1.0f, 1.0f);
  ASSERT_EQ(t.Save(link.string()), "");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(real).permissions(), mode);
  THist2dTable back;
  ASSERT_EQ(back.Load(link.string()), "");
  EXPECT_EQ(back.Hist(2, 2), 2);

  fs::permissions(real, fs::perms::owner_read);
  t.AddSample(1.0f, 1.0f);
  EXPECT_EQ(t.Save(link.string()), "Cannot write the file " + link.string() + ": Permission denied");
  ASSERT_EQ(back.Load(real.string()), "");
  EXPECT_EQ(back.Hist(2, 2), 2);
}

TEST(Hist2dTable, RowTextShowsTheQuotientUnrounded) {
  // 16 / 51 = 0.3137254...; rounded to single first it would print 0.313726.
  THist2dTable t;
  for (int i = 0; i < 51; ++i) t.AddSample(i < 16 ? 1.0f : 0.0f, 1.0f);
  const std::string text = t.RowText(2);
  EXPECT_EQ(text.substr(0, 42), "0.000000   0.686275\r\n0.500000   0.000000\r\n");
  EXPECT_EQ(text.substr(42, 21), "1.000000   0.313725\r\n");
}

TEST(Hist2dDialog, DebugModeKeepsTheTableInItsFile) {
  testing::TempDir dir;
  const std::string file = (dir.Path() / "Hist2D.bin").string();
  for (bool debug : {false, true}) {
    THist2dDialog(debug, nullptr, file).AddSample(1.0f, 1.0f);
    EXPECT_EQ(std::filesystem::exists(file), debug);
  }
  THist2dDialog d(true, nullptr, file);
  EXPECT_EQ(d.LoadError(), "");
  EXPECT_EQ(d.Table().Hist(2, 2), 1);
  EXPECT_EQ(d.Table().EnvCnt(2), 1);
}

TEST(Hist2dDialog, MapAndMouse) {
  THist2dDialog d(false);
  d.AddSample(6.0f, 10.0f);  // (20, 12): colour 107 of the ramp
  d.AddSample(0.5f, 1.0f);
  d.AddSample(0.5f, 1.0f);
  d.AddSample(1.0f, 1.0f);
  const QImage img = d.LevelMap()->grab().toImage();
  const int h = img.height();
  const QRgb magenta = qRgb(0xFF, 0x00, 0xFF);
  EXPECT_EQ(img.pixel(10, 100), magenta);
  EXPECT_EQ(img.pixel(300, h - 11), magenta);
  EXPECT_EQ(img.pixel(4 * 20 + 2, h - 4 * 12 - 3), qRgb(0xAB, 0xFF, 0x54));
  EXPECT_EQ(img.pixel(4 * 20 + 2, h - 4 * 13 - 3), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(4, h - 1), magenta);  // the diagonal starts at (4, H - 1)
  EXPECT_EQ(img.pixel(3, h - 1), qRgb(0, 0, 0));

  // (X - 2) div 4: 5 is still row 0, 6 row 1.
  for (auto [x, row] : {std::pair(5, 0), std::pair(6, 1), std::pair(4 * 2 + 3, 2)}) {
    QTest::mousePress(d.LevelMap(), Qt::LeftButton, {}, QPoint(x, 50));
    EXPECT_EQ(d.SelectedEnv(), row) << x;
  }
  QTest::mouseClick(d.RowCurve(), Qt::LeftButton, {}, QPoint(50, 50));
  const QString text = QApplication::clipboard()->text();
  EXPECT_EQ(text.count(QStringLiteral("\r\n")), 128);
  EXPECT_TRUE(text.startsWith(QStringLiteral("0.000000   0.000000\r\n0.500000   0.666667\r\n1.000000   0.333333\r\n")));

  // The row as a curve, 5 times each amplitude's share: 2 of 20 samples at
  // each of 0.5, 1.0 and 1.5 are half-way up the box.
  for (auto [amp, n] : {std::pair(1.0f, 1), std::pair(1.5f, 2), std::pair(20.0f, 14)})
    for (int i = 0; i < n; ++i) d.AddSample(amp, 1.0f);
  const QImage curve = d.RowCurve()->grab().toImage();
  EXPECT_EQ(curve.pixel(6, curve.height() - 1 - 256), qRgb(0, 0, 0xFF));

  QTest::mouseDClick(d.LevelMap(), Qt::LeftButton, {}, QPoint(100, 50));
  EXPECT_EQ(d.Table().EnvCnt(2), 0);
  EXPECT_EQ(d.Table().Hist(20, 12), 0);
}

}  // namespace
}  // namespace brenvo
