#include "audio/qyx_wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "wav_bytes.h"

namespace brenvo {
namespace {

using testing::Bytes;
using testing::TempDir;

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// Samples that every width holds exactly: multiples of 2^24 within range.
TDataBufferF TestSignal(int channels, int frames, bool isFloat) {
  TDataBufferF d(channels, TSingleArray(frames));
  for (int c = 0; c < channels; ++c)
    for (int i = 0; i < frames; ++i) {
      int v = ((i * 7 + c * 31) % 255) - 127;
      d[c][i] = isFloat ? static_cast<float>(v) / 128.0f : static_cast<float>(v) * 16777216.0f;
    }
  return d;
}

void WriteWav(const std::string& path, int channels, int bytesPerSample, bool isFloat, const TDataBufferF& data,
              uint32_t rate = 6000, const std::vector<std::string>& info = {}) {
  TQyxWavFile w;
  w.SetFileName(path);
  w.SetChannelCount(channels);
  w.SetSamplesPerSec(rate);
  w.SetBytesPerSample(bytesPerSample);
  w.SetFloatFmt(isFloat);
  w.SetInfo(info);
  w.OpenWrite();
  w.Write(data);
  w.Close();
}

TEST(WavFile, MonoSixteenBitHeaderIsByteExact) {
  TempDir dir;
  const std::string path = (dir.Path() / "m.wav").string();
  WriteWav(path, 1, 2, false, TDataBufferF{{65536.0f, -65536.0f, 3 * 65536.0f}});
  const Bytes got = testing::ReadFile(path);
  Bytes want = testing::Riff({testing::Chunk("fmt ", testing::FmtBody(1, 1, 6000, 2, 16, 0)),
                              testing::Chunk("data", {0x01, 0x00, 0xFF, 0xFF, 0x03, 0x00})});
  EXPECT_EQ(got, want);
  ASSERT_GE(got.size(), 46u);
  EXPECT_EQ(got[16], 18);                      // fmt size 18, not 16
  EXPECT_EQ(got[28] | (got[29] << 8), 12000);  // bytes per second
  EXPECT_EQ(std::string(got.begin() + 38, got.begin() + 42), "data");
}

TEST(WavFile, FloatAndExtensibleHeadersAreByteExact) {
  TempDir dir;
  const std::string f = (dir.Path() / "f.wav").string();
  WriteWav(f, 2, 4, true, TDataBufferF{{0.5f}, {-0.25f}});
  Bytes data;
  testing::Append32(data, 0x3F000000);
  testing::Append32(data, 0xBE800000);
  EXPECT_EQ(testing::ReadFile(f), testing::Riff({testing::Chunk("fmt ", testing::FmtBody(3, 2, 6000, 8, 32, 0)),
                                                 testing::Chunk("data", data)}));

  const std::string e = (dir.Path() / "e.wav").string();
  WriteWav(e, 2, 3, false, TDataBufferF{{256.0f}, {-256.0f}});
  Bytes fmt = testing::FmtBody(0xFFFE, 2, 6000, 6, 24, 22);
  testing::Append16(fmt, 24);
  testing::Append32(fmt, 3);
  for (uint8_t b : {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
    fmt.push_back(b);
  EXPECT_EQ(testing::ReadFile(e),
            testing::Riff({testing::Chunk("fmt ", fmt), testing::Chunk("data", {1, 0, 0, 0xFF, 0xFF, 0xFF})}));

  // Four channels of 16 bits: extensible with channel mask 0.
  const std::string q = (dir.Path() / "q.wav").string();
  WriteWav(q, 4, 2, false, TestSignal(4, 3, false));
  const Bytes qb = testing::ReadFile(q);
  EXPECT_EQ(qb[16], 40);
  EXPECT_EQ(qb[20] | (qb[21] << 8), 0xFFFE);
  EXPECT_EQ(qb[40], 0);
  EXPECT_EQ(std::string(qb.begin() + 60, qb.begin() + 64), "data");
}

TEST(WavFile, RoundTripInEveryFormat) {
  TempDir dir;
  struct Case {
    int channels, bytes;
    bool isFloat;
    const char* tag;
  };
  const Case cases[] = {{1, 1, false, "WAVE_FORMAT_PCM"},        {2, 2, false, "WAVE_FORMAT_PCM"},
                        {1, 3, false, "WAVE_FORMAT_EXTENSIBLE"}, {2, 4, false, "WAVE_FORMAT_EXTENSIBLE"},
                        {2, 4, true, "WAVE_FORMAT_IEEE_FLOAT"},  {3, 2, false, "WAVE_FORMAT_EXTENSIBLE"},
                        {3, 4, true, "WAVE_FORMAT_EXTENSIBLE"},  {5, 1, false, "WAVE_FORMAT_EXTENSIBLE"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " ch, " + std::to_string(c.bytes) + " bytes" + (c.isFloat ? " float" : ""));
    const std::string path = (dir.Path() / "r.wav").string();
    const TDataBufferF sig = TestSignal(c.channels, 301, c.isFloat);
    WriteWav(path, c.channels, c.bytes, c.isFloat, sig, 8000);
    TQyxWavFile r;
    r.SetFileName(path);
    r.OpenRead();
    EXPECT_EQ(r.ChannelCount(), static_cast<uint32_t>(c.channels));
    EXPECT_EQ(r.BytesPerSample(), static_cast<uint32_t>(c.bytes));
    EXPECT_EQ(r.SamplesPerSec(), 8000u);
    EXPECT_EQ(r.FloatFmt(), c.isFloat);
    EXPECT_EQ(r.SampleCnt(), 301u);
    EXPECT_EQ(r.FormatTag(), c.tag);
    TDataBufferF back = r.Read(1000);
    EXPECT_EQ(back, sig);
    r.Seek(300);
    TDataBufferI last;
    r.ReadInt(5, last);
    ASSERT_EQ(last.size(), static_cast<size_t>(c.channels));
    ASSERT_EQ(last[0].size(), 1u);
    r.Close();
  }
}

TEST(WavFile, IntegerWritingAndReading) {
  TempDir dir;
  const std::string path = (dir.Path() / "i.wav").string();
  TQyxWavFile w;
  w.SetFileName(path);
  w.SetBytesPerSample(3);
  w.OpenWrite();
  w.WriteInt(TDataBufferI{{0x7FFFFF00, -256, 0x12345678}});
  w.Close();
  TQyxWavFile r;
  r.SetFileName(path);
  r.OpenRead();
  TDataBufferI back;
  r.ReadInt(10, back);
  EXPECT_EQ(back, (TDataBufferI{{0x7FFFFF00, -256, 0x12345600}}));
  EXPECT_EQ(r.ValidBits(), 24u);
  EXPECT_EQ(r.SubFormatTag(), "KSDATAFORMAT_SUBTYPE_PCM");
}

TEST(WavFile, NormalizeScalesThePeakToNineTenths) {
  TDataBufferF d{{1.0f, -4.0f}, {2.0f, 0.0f}};
  TQyxWavFile::NormalizeData(d);
  EXPECT_FLOAT_EQ(d[0][1], -1932735282.3f);
  EXPECT_FLOAT_EQ(d[1][0], 1932735282.3f / 2.0f);
  TDataBufferF zero{{0.0f}};
  TQyxWavFile::NormalizeData(zero);
  EXPECT_EQ(zero[0][0], 0.0f);
}

TEST(WavFile, InfoItemsAreWrittenAndReadBack) {
  TempDir dir;
  const std::string path = (dir.Path() / "info.wav").string();
  TQyxWavFile w;
  w.SetFileName(path);
  w.SetInfo({"QTR =x", "ISF=bad", "ISFT=", "IWEB=http://a.b/", "ab"});
  w.OpenWrite();
  w.Write(TDataBufferF{{0.0f}});
  w.Close();
  EXPECT_EQ(w.Info(), (std::vector<std::string>{"QTR =x", "IWEB=http://a.b/"}));
  Bytes list;
  testing::AppendStr(list, "INFO");
  Bytes q = testing::Chunk("QTR ", {'x'});
  Bytes web = testing::Chunk("IWEB", {'h', 't', 't', 'p', ':', '/', '/', 'a', '.', 'b', '/'});
  list.insert(list.end(), q.begin(), q.end());
  list.insert(list.end(), web.begin(), web.end());
  const Bytes want = testing::Riff({testing::Chunk("fmt ", testing::FmtBody(1, 1, 11025, 2, 16, 0)),
                                    testing::Chunk("data", {0, 0}), testing::Chunk("LIST", list)});
  EXPECT_EQ(testing::ReadFile(path), want);
  TQyxWavFile r;
  r.SetFileName(path);
  r.OpenRead();
  EXPECT_EQ(r.Info(), (std::vector<std::string>{"QTR =x", "IWEB=http://a.b/"}));
  // No valid line: no LIST chunk at all.
  const std::string bare = (dir.Path() / "bare.wav").string();
  WriteWav(bare, 1, 2, false, TDataBufferF{{0.0f}}, 6000, {"ISFT="});
  EXPECT_EQ(testing::ReadFile(bare).size(), 48u);
}

TEST(WavFile, HandMadeInfoLists) {
  TempDir dir;
  const Bytes fmt = testing::Chunk("fmt ", testing::FmtBody(1, 1, 6000, 2, 16, -1));
  const Bytes data = testing::Chunk("data", {1, 0, 2, 0});
  // Texts ending in a null, and an odd text whose pad byte is missing.
  Bytes body;
  testing::AppendStr(body, "INFO");
  Bytes a = testing::Chunk("INAM", {'a', 'b', 'c', 0});
  Bytes b = testing::Chunk("ICMT", {'x', 'y', 'z'}, -1, false);
  Bytes c = testing::Chunk("ISFT", {'q', 0});
  for (const Bytes* p : {&a, &b, &c}) body.insert(body.end(), p->begin(), p->end());
  const Bytes list = testing::Chunk("LIST", body);
  struct Case {
    const char* name;
    std::vector<Bytes> chunks;
  };
  const Case cases[] = {{"after", {fmt, data, list}}, {"before fmt", {list, fmt, data}}, {"between", {fmt, list, data}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const auto path = dir.Path() / "h.wav";
    testing::WriteFile(path, testing::Riff(k.chunks));
    TQyxWavFile r;
    r.SetFileName(path.string());
    r.OpenRead();
    ASSERT_EQ(r.Info().size(), 3u);
    EXPECT_EQ(r.Info()[0], std::string("INAM=abc\0", 9));
    EXPECT_EQ(r.Info()[1], "ICMT=xyz");
    EXPECT_EQ(r.Info()[2], std::string("ISFT=q\0", 7));
    EXPECT_EQ(r.SampleCnt(), 2u);
    TDataBufferF s = r.Read(10);
    EXPECT_EQ(s, (TDataBufferF{{65536.0f, 131072.0f}}));
  }
  // A text size past the end of the list takes what is there.
  Bytes bad;
  testing::AppendStr(bad, "INFO");
  testing::AppendStr(bad, "IART");
  testing::Append32(bad, 0xFFFFFFF0u);
  testing::AppendStr(bad, "tail");
  testing::WriteFile(dir.Path() / "bad.wav", testing::Riff({fmt, testing::Chunk("LIST", bad), data}));
  TQyxWavFile r;
  r.SetFileName((dir.Path() / "bad.wav").string());
  r.OpenRead();
  EXPECT_EQ(r.Info(), std::vector<std::string>{"IART=tail"});
}

TEST(WavFile, BrokenHeadersAreRefusedClearly) {
  TempDir dir;
  const Bytes data = testing::Chunk("data", {0, 0, 0, 0});
  auto openText = [&](const Bytes& file) {
    testing::WriteFile(dir.Path() / "x.wav", file);
    TQyxWavFile r;
    r.SetFileName((dir.Path() / "x.wav").string());
    std::string text = Message([&] { r.OpenRead(); });
    EXPECT_FALSE(r.IsOpen());
    return text;
  };
  auto fmt = [](uint16_t tag, uint16_t ch, uint16_t align, uint16_t bits) {
    return testing::Chunk("fmt ", testing::FmtBody(tag, ch, 6000, align, bits, 0));
  };
  const std::string noData = "No \"data\" chunk after the \"fmt \" chunk";
  EXPECT_EQ(openText({}), "Not a WAV file (the file is empty)");
  EXPECT_EQ(openText({'R', 'I', 'F'}), "Not a WAV file");
  EXPECT_EQ(openText(testing::Chunk("RIFX", {'W', 'A', 'V', 'E'})), "Not a WAV file");
  EXPECT_EQ(openText(testing::Chunk("RIFF", {'A', 'V', 'I', ' '})), "Not a WAV file");
  EXPECT_EQ(openText(testing::Riff({data})), "No \"fmt \" chunk");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 1, 2, 16)})), noData);
  EXPECT_EQ(openText(testing::Riff({data, fmt(1, 1, 2, 16)})), noData);
  // A chunk on the way that claims more than the file holds.
  EXPECT_EQ(openText(testing::Riff({testing::Chunk("junk", {1, 2}, 100000), fmt(1, 1, 2, 16), data})),
            "No \"fmt \" chunk: chunk \"junk\" runs past the end of the file");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 1, 2, 16), testing::Chunk("\x01\xffxy", {1}, 100000), data})),
            noData + ": chunk \"??xy\" runs past the end of the file");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 0, 2, 16), data})), "Invalid channel count: 0");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 2, 0, 16), data})), "Invalid block align: 0");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 2, 2, 16), data})), "Invalid block align: 2");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 2, 5, 16), data})), "Invalid block align: 5");
  EXPECT_EQ(openText(testing::Riff({fmt(3, 1, 8, 64), data})), "Unsupported compression method");
  EXPECT_EQ(openText(testing::Riff({fmt(1, 1, 2, 12), data})), "Unsupported compression method");
  EXPECT_EQ(openText(testing::Riff({fmt(2, 1, 2, 16), data})), "Unsupported compression method");
  EXPECT_EQ(openText(testing::Riff({testing::Chunk("fmt ", Bytes(14)), data})), "Invalid header size");
  // Extensible with a short header or an unknown sub-format.
  EXPECT_EQ(openText(testing::Riff({testing::Chunk("fmt ", testing::FmtBody(0xFFFE, 1, 6000, 2, 16, -1)), data})),
            "Unable to read header");
  Bytes ext = testing::FmtBody(0xFFFE, 1, 6000, 2, 16, 22);
  testing::Append16(ext, 16);
  testing::Append32(ext, 0);
  for (int i = 0; i < 16; ++i) ext.push_back(static_cast<uint8_t>(i + 1));
  EXPECT_EQ(openText(testing::Riff({testing::Chunk("fmt ", ext), data})), "Unsupported compression method");
  // A LIST claiming more than the file holds.
  EXPECT_EQ(openText(testing::Riff({fmt(1, 1, 2, 16), data, testing::Chunk("LIST", {'I', 'N', 'F', 'O'}, 1000)})),
            "Unable to read header");
  EXPECT_EQ(Message([&] {
              TQyxWavFile r;
              r.SetFileName((dir.Path() / "missing.wav").string());
              r.OpenRead();
            }),
            "Unable to open file: " + (dir.Path() / "missing.wav").string());
}

TEST(WavFile, TruncatedDataStopsAtTheEndOfTheFile) {
  TempDir dir;
  Bytes file = testing::Riff({testing::Chunk("fmt ", testing::FmtBody(1, 1, 6000, 2, 16, 0)),
                              testing::Chunk("data", {1, 0, 2, 0, 3, 0}, 1000)});
  testing::WriteFile(dir.Path() / "t.wav", file);
  TQyxWavFile r;
  r.SetFileName((dir.Path() / "t.wav").string());
  r.OpenRead();
  EXPECT_EQ(r.SampleCnt(), 3u);
  EXPECT_EQ(r.Read(2), (TDataBufferF{{65536.0f, 131072.0f}}));
  EXPECT_EQ(r.Read(2), (TDataBufferF{{196608.0f}}));
  EXPECT_EQ(r.Read(2), (TDataBufferF{{}}));
  EXPECT_EQ(r.CurrentSample(), 3u);
}

TEST(WavFile, ReadingStopsAtTheEndOfTheDataChunk) {
  TempDir dir;
  const std::string path = (dir.Path() / "odd.wav").string();
  WriteWav(path, 1, 1, false, TDataBufferF{{0.0f, 16777216.0f, -16777216.0f}}, 6000, {"ISFT=BRENVO"});
  TQyxWavFile r;
  r.SetFileName(path);
  r.OpenRead();
  EXPECT_EQ(r.SampleCnt(), 3u);
  TDataBufferF d = r.Read(100);
  EXPECT_EQ(d, (TDataBufferF{{0.0f, 16777216.0f, -16777216.0f}}));
  EXPECT_TRUE(r.Read(1)[0].empty());
  EXPECT_EQ(r.Info(), std::vector<std::string>{"ISFT=BRENVO"});
  r.Seek(1);
  EXPECT_EQ(r.Read(1), (TDataBufferF{{16777216.0f}}));
  EXPECT_EQ(Message([&] { r.Seek(4); }), "Invalid Seek position");
}

// A read that fails is no end of file: it must not pass for a short file.
// /proc/self/mem is a regular file whose first page is never mapped, so
// every read from its start fails with an I/O error.
TEST(WavFile, ReadErrorsAreReportedAsSuch) {
  TRiffFile f;
  ASSERT_TRUE(f.Open("/proc/self/mem", TRiffFile::TMode::Read));
  uint8_t b[8];
  EXPECT_EQ(f.Read(b, 8), -1);
  TChunkInfo ck;
  EXPECT_EQ(f.Descend(ck, nullptr, 0), MMIOERR_CANNOTREAD);
  TQyxWavFile r;
  r.SetFileName("/proc/self/mem");
  EXPECT_EQ(Message([&] { r.OpenRead(); }), "WAV read error");
  EXPECT_FALSE(r.IsOpen());
}

// A folder or a named pipe chosen for play-back is refused at once: the pipe
// would otherwise block the caller until another program writes to it.
TEST(WavFile, OnlyRegularFilesOpenForReading) {
  TempDir dir;
  const std::string fifo = (dir.Path() / "pipe.wav").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir.Path().string(), fifo}) {
    TQyxWavFile r;
    r.SetFileName(path);
    EXPECT_EQ(Message([&] { r.OpenRead(); }), "Unable to open file: " + path);
  }
}

TEST(WavFile, StateErrors) {
  TempDir dir;
  const std::string path = (dir.Path() / "s.wav").string();
  TQyxWavFile w;
  EXPECT_EQ(Message([&] { w.Close(); }), "File not open");
  EXPECT_EQ(Message([&] { w.Write(TDataBufferF{{0.0f}}); }), "File not open");
  EXPECT_EQ(Message([&] { w.ValidBits(); }), "File not open");
  EXPECT_EQ(Message([&] { w.Seek(0); }), "File not open");
  w.SetFileName(path);
  w.OpenWrite();
  EXPECT_EQ(Message([&] { w.OpenWrite(); }), "File already open");
  EXPECT_EQ(Message([&] { w.SetChannelCount(2); }), "Cannot change parameter when the file is open");
  EXPECT_EQ(Message([&] { w.SetFileName("x"); }), "Cannot change parameter when the file is open");
  EXPECT_EQ(Message([&] { w.Read(1); }), "File open in write mode");
  w.Write(TDataBufferF{});  // nothing
  w.Write(TDataBufferF{{65536.0f, 65536.0f}});
  EXPECT_EQ(w.SampleCnt(), 2u);
  w.Close();
  EXPECT_FALSE(w.IsOpen());
  w.OpenRead();
  EXPECT_EQ(Message([&] { w.Write(TDataBufferF{{0.0f}}); }), "File open in read mode");
  EXPECT_EQ(Message([&] { w.Read(0); }), "Range check error");
  w.Close();
  TQyxWavFile p;
  p.SetBytesPerSample(4);
  p.SetFloatFmt(true);
  p.SetBytesPerSample(2);
  EXPECT_FALSE(p.FloatFmt());
  p.SetFloatFmt(true);
  EXPECT_EQ(p.BytesPerSample(), 4u);
  p.SetChannelCount(0);
  p.SetFileName(path);
  EXPECT_EQ(Message([&] { p.OpenWrite(); }), "Range check error");
  p.SetChannelCount(70000);
  EXPECT_EQ(Message([&] { p.OpenWrite(); }), "Range check error");
}

TEST(WavFile, SeekingBackWhileWritingKeepsEveryFrame) {
  TempDir dir;
  const std::string path = (dir.Path() / "sk.wav").string();
  TQyxWavFile w;
  w.SetFileName(path);
  w.SetInfo({"ISFT=BRENVO"});
  w.OpenWrite();
  w.Write(TDataBufferF{{65536.0f, 2 * 65536.0f, 3 * 65536.0f}});
  w.Seek(1);
  w.Write(TDataBufferF{{9 * 65536.0f}});
  EXPECT_EQ(w.SampleCnt(), 3u);
  w.Close();
  TQyxWavFile r;
  r.SetFileName(path);
  r.OpenRead();
  EXPECT_EQ(r.Read(10), (TDataBufferF{{65536.0f, 9 * 65536.0f, 3 * 65536.0f}}));
  EXPECT_EQ(r.Info(), std::vector<std::string>{"ISFT=BRENVO"});
}

TEST(WavFile, AFileLeftOpenIsFinishedByTheDestructor) {
  TempDir dir;
  const std::string path = (dir.Path() / "d.wav").string();
  {
    TQyxWavFile w;
    w.SetFileName(path);
    w.OpenWrite();
    w.Write(TDataBufferF{{65536.0f}});
  }
  TQyxWavFile r;
  r.SetFileName(path);
  r.OpenRead();
  EXPECT_EQ(r.SampleCnt(), 1u);
}

TEST(WavFile, ExtensibleWithTwentyValidBits) {
  TempDir dir;
  Bytes ext = testing::FmtBody(0xFFFE, 1, 6000, 3, 24, 22);
  testing::Append16(ext, 20);
  testing::Append32(ext, 0);
  for (uint8_t b : {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
    ext.push_back(b);
  testing::WriteFile(dir.Path() / "v.wav",
                     testing::Riff({testing::Chunk("fmt ", ext), testing::Chunk("data", {0xFF, 0xFF, 0x7F})}));
  TQyxWavFile r;
  r.SetFileName((dir.Path() / "v.wav").string());
  r.OpenRead();
  EXPECT_EQ(r.ValidBits(), 20u);
  EXPECT_EQ(r.BytesPerSample(), 3u);
  TDataBufferI v;
  r.ReadInt(1, v);
  EXPECT_EQ(v[0][0], 0x7FFFF000);
}

// --- libsndfile and sox as independent readers and writers ---

TEST(WavFileOracle, LibsndfileReadsOurFiles) {
  TempDir dir;
  const int formats[][3] = {{1, 2, 0}, {2, 3, 0}, {2, 4, 1}, {3, 2, 0}, {1, 1, 0}};
  for (const auto& f : formats) {
    SCOPED_TRACE(std::to_string(f[0]) + "/" + std::to_string(f[1]) + "/" + std::to_string(f[2]));
    const std::string path = (dir.Path() / "o.wav").string();
    const TDataBufferF sig = TestSignal(f[0], 100, f[2] != 0);
    WriteWav(path, f[0], f[1], f[2] != 0, sig, 6000, {"ISFT=BRENVO"});
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.channels, f[0]);
    EXPECT_EQ(info.samplerate, 6000);
    ASSERT_EQ(info.frames, 100);
    std::vector<float> got(static_cast<size_t>(100 * f[0]));
    if (f[2]) {
      sf_readf_float(sf, got.data(), 100);
    } else {
      std::vector<int> ints(got.size());
      sf_readf_int(sf, ints.data(), 100);  // libsndfile scales integers to 32 bits, as we do
      for (size_t i = 0; i < ints.size(); ++i) got[i] = static_cast<float>(ints[i]);
    }
    const char* software = sf_get_string(sf, SF_STR_SOFTWARE);
    EXPECT_STREQ(software ? software : "", "BRENVO");
    sf_close(sf);
    for (int i = 0; i < 100; ++i)
      for (int c = 0; c < f[0]; ++c) ASSERT_EQ(got[static_cast<size_t>(i * f[0] + c)], sig[c][i]);
  }
}

TEST(WavFileOracle, WeReadLibsndfileFiles) {
  TempDir dir;
  const int formats[][2] = {{SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1}, {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2},
                            {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2},  {SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 2},
                            {SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 1}, {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f[0]);
    const std::string path = (dir.Path() / "s.wav").string();
    SF_INFO info{};
    info.samplerate = 6000;
    info.channels = f[1];
    info.format = f[0];
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    sf_set_string(sf, SF_STR_COMMENT, "hello");
    std::vector<int> ints(static_cast<size_t>(50 * f[1]));
    for (size_t i = 0; i < ints.size(); ++i) ints[i] = (static_cast<int>(i % 200) - 100) * 16777216;
    if (f[0] & SF_FORMAT_FLOAT) {
      std::vector<float> fl(ints.size());
      for (size_t i = 0; i < ints.size(); ++i) fl[i] = static_cast<float>(ints[i] / 2147483648.0);
      sf_writef_float(sf, fl.data(), 50);
    } else {
      sf_writef_int(sf, ints.data(), 50);
    }
    sf_close(sf);
    // What libsndfile itself reads from the file is the reference.
    SF_INFO rinfo{};
    SNDFILE* rf = sf_open(path.c_str(), SFM_READ, &rinfo);
    ASSERT_NE(rf, nullptr);
    std::vector<int> refInt(ints.size());
    std::vector<float> refFloat(ints.size());
    const bool isFloat = (f[0] & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
    if (isFloat)
      sf_readf_float(rf, refFloat.data(), 50);
    else
      sf_readf_int(rf, refInt.data(), 50);
    sf_close(rf);
    TQyxWavFile r;
    r.SetFileName(path);
    r.OpenRead();
    EXPECT_EQ(r.ChannelCount(), static_cast<uint32_t>(f[1]));
    EXPECT_EQ(r.SampleCnt(), 50u);
    EXPECT_EQ(r.FloatFmt(), isFloat);
    TDataBufferI back;
    TDataBufferF backF = r.Read(50);
    r.Seek(0);
    r.ReadInt(50, back);
    for (int i = 0; i < 50; ++i)
      for (int c = 0; c < f[1]; ++c) {
        const size_t at = static_cast<size_t>(i * f[1] + c);
        if (isFloat) {
          ASSERT_EQ(backF[c][i], refFloat[at]);
          ASSERT_EQ(back[c][i], static_cast<int32_t>(std::nearbyint(refFloat[at] * 2147483647.0)));
        } else {
          ASSERT_EQ(back[c][i], refInt[at]) << i << "/" << c;
          ASSERT_EQ(backF[c][i], static_cast<float>(refInt[at]));
        }
      }
    bool comment = false;
    for (const auto& line : r.Info()) comment |= line.rfind("ICMT=hello", 0) == 0;
    EXPECT_TRUE(comment);
  }
}

bool HaveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

TEST(WavFileOracle, SoxAgreesBothWays) {
  if (!HaveSox()) GTEST_SKIP() << "sox not installed";
  TempDir dir;
  const std::string ours = (dir.Path() / "ours.wav").string();
  const std::string raw = (dir.Path() / "ours.raw").string();
  TDataBufferF sig = TestSignal(2, 200, false);
  WriteWav(ours, 2, 2, false, sig, 6000, {"ISFT=BRENVO"});
  ASSERT_EQ(std::system(("sox '" + ours + "' -t raw -e signed -b 16 -L '" + raw + "'").c_str()), 0);
  const Bytes r = testing::ReadFile(raw);
  ASSERT_EQ(r.size(), 800u);
  for (int i = 0; i < 200; ++i)
    for (int c = 0; c < 2; ++c) {
      const size_t at = static_cast<size_t>((i * 2 + c) * 2);
      ASSERT_EQ(static_cast<int16_t>(r[at] | (r[at + 1] << 8)) * 65536.0f, sig[c][i]);
    }
  // sox writes 24-bit extensible stereo and float; we read what its raw output says.
  for (const char* args : {"-b 24", "-e floating-point -b 32"}) {
    SCOPED_TRACE(args);
    const std::string theirs = (dir.Path() / "theirs.wav").string();
    const std::string traw = (dir.Path() / "theirs.raw").string();
    ASSERT_EQ(std::system(("sox -n -r 6000 -c 2 " + std::string(args) + " '" + theirs +
                           "' synth 0.05 sine 440 sine 700 vol 0.5")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("sox '" + theirs + "' -t raw -e signed -b 32 -L '" + traw + "'").c_str()), 0);
    const Bytes t = testing::ReadFile(traw);
    TQyxWavFile w;
    w.SetFileName(theirs);
    w.OpenRead();
    ASSERT_EQ(w.SampleCnt(), 300u);
    TDataBufferI got;
    w.ReadInt(300, got);
    for (int i = 0; i < 300; ++i)
      for (int c = 0; c < 2; ++c) {
        const size_t at = static_cast<size_t>((i * 2 + c) * 4);
        const int32_t want = static_cast<int32_t>(t[at] | (t[at + 1] << 8) | (t[at + 2] << 16) | (static_cast<uint32_t>(t[at + 3]) << 24));
        ASSERT_NEAR(got[c][i], want, 256) << i;
      }
  }
}

}  // namespace
}  // namespace brenvo
