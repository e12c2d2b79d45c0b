// The real program as a user starts it, in a real X server (run under
// xvfb-run):
//
//   brenvo_e2e BRENVO OUTDIR        starts BRENVO in expert mode (its settings
//                                   file says so) with a fresh HOME and data
//                                   folder, "PORT=" a free port, and an ALSA
//                                   default capture device that reads a
//                                   two-signal RTTY recording from a FIFO (this
//                                   program decides when audio flows); waits for
//                                   its window, checks its title and that it is
//                                   mapped, takes a screenshot (OUTDIR/screen.png,
//                                   the window alone in OUTDIR/window.png, and
//                                   again once text is decoded in
//                                   OUTDIR/decoding.png),
//                                   checks the marker strip's peak bars at both
//                                   tone pairs; selects a signal with a click on
//                                   the waterfall and, as a logging program on
//                                   the JSON port, checks that its corrected
//                                   text and callsign arrive; saves the
//                                   last 60 s with the save button (answering
//                                   its dialog with Return), plays that file back
//                                   with Ctrl held and checks that the same text
//                                   arrives again; closes the window as a window
//                                   manager would (WM_DELETE_WINDOW) and expects
//                                   exit status 0.
//   brenvo_e2e --waterfall PNG      checks the waterfall of a window picture:
//                                   brighter rows at the tone pairs' bins.
//
// Exit 0 when every check passes, 1 with a line naming the failed check.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QImage>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/band_synth.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using brenvo::testing::BandSignal;

// The two signals: lower sideband (mark below space), 15 bins of shift. A
// click on the waterfall selects the first.
constexpr int kMarkBins[] = {70, 130};
constexpr const char* kTexts[] = {"CQ CQ DE DL1ABC DL1ABC PSE K ", "CQ TEST K1XYZ K1XYZ TEST "};
constexpr const char* kSelectedMessage = "CQ CQ DE DL1ABC DL1ABC PSE K";
constexpr const char* kSelectedCall = "DL1ABC";
constexpr int kShiftBins = 15;
constexpr double kSeconds = 30.0;
constexpr int kFrames = 128;  // one soundcard block
constexpr double kBlockSec = kFrames / 6000.0;
// Where the window puts the default tones (2125 and 2295 Hz, lower sideband).
constexpr int kDefaultMarkBin = 181;
constexpr int kDefaultSpaceBin = 196;
constexpr int kFftSize = 256;
constexpr QRgb kStripBackground = 0xFF133153;
constexpr QRgb kDefaultTone = 0xFF808080;
constexpr QRgb kPeakBar = 0xFFCCCCFF;
constexpr int kStripWidth = 100;
constexpr int kScaleWidth = 8;

int Fail(const std::string& what) {
  std::fprintf(stderr, "brenvo_e2e: FAILED: %s\n", what.c_str());
  return 1;
}

// Interleaved 16-bit stereo, the same audio on both channels.
std::vector<int16_t> Recording() {
  std::vector<BandSignal> band;
  const double amplitude = 8000.0 * 65536.0;
  for (int i = 0; i < static_cast<int>(std::size(kMarkBins)); ++i) {
    BandSignal s;
    s.Params.MarkHz = kMarkBins[i] * 3000.0 / kFftSize;
    s.Params.SpaceHz = (kMarkBins[i] + kShiftBins) * 3000.0 / kFftSize;
    s.Params.Amplitude = amplitude;
    s.Params.IdleBeforeSec = 0.3;
    s.Params.StartPhase = 0.9 * i;
    s.Text = kTexts[i];
    band.push_back(s);
  }
  const brenvo::TSingleArray mono =
      brenvo::testing::SynthesizeBand(band, kSeconds, brenvo::testing::NoiseSigmaFor(amplitude, 20.0), 7);
  std::vector<int16_t> out;
  out.reserve(mono.size() * 2);
  for (float v : mono) {
    const double s = std::clamp(std::nearbyint(v / 65536.0), -32768.0, 32767.0);
    out.push_back(static_cast<int16_t>(s));
    out.push_back(static_cast<int16_t>(s));
  }
  return out;
}

// Feeds the FIFO in real time, a few blocks ahead, over and over, until
// stopped. Writes never block: a full pipe drops the block.
class TFeeder {
 public:
  TFeeder(int fd, std::vector<int16_t> audio) : Fd(fd), Audio(std::move(audio)) {}
  ~TFeeder() { Stop(); }
  void Start() {
    Thread = std::thread([this] { Run(); });
  }
  void Stop() {
    Stopping = true;
    if (Thread.joinable()) Thread.join();
  }

 private:
  void Run() {
    const std::size_t blockValues = kFrames * 2;
    const std::size_t blocks = Audio.size() / blockValues;
    const auto start = std::chrono::steady_clock::now();
    constexpr int kLead = 8;
    for (std::size_t n = 0; !Stopping; ++n) {
      const auto due = start + std::chrono::duration<double>((static_cast<double>(n) - kLead) * kBlockSec);
      std::this_thread::sleep_until(std::chrono::time_point_cast<std::chrono::steady_clock::duration>(due));
      const int16_t* block = Audio.data() + (n % blocks) * blockValues;
      [[maybe_unused]] ssize_t w = ::write(Fd, block, blockValues * sizeof(int16_t));
    }
  }
  int Fd;
  std::vector<int16_t> Audio;
  std::atomic<bool> Stopping{false};
  std::thread Thread;
};

// A minimal X client: finds the window, grabs the screen, sends the close.
class TX {
 public:
  TX() : C(xcb_connect(nullptr, nullptr)) {}
  ~TX() { xcb_disconnect(C); }
  bool Ok() const { return !xcb_connection_has_error(C); }
  xcb_window_t Root() const { return xcb_setup_roots_iterator(xcb_get_setup(C)).data->root; }

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(C, xcb_intern_atom(C, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
  }

  std::string Title(xcb_window_t w) {
    for (xcb_atom_t prop : {Atom("_NET_WM_NAME"), xcb_atom_t{XCB_ATOM_WM_NAME}}) {
      xcb_get_property_reply_t* r =
          xcb_get_property_reply(C, xcb_get_property(C, 0, w, prop, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
      std::string t;
      if (r) t.assign(static_cast<const char*>(xcb_get_property_value(r)), static_cast<std::size_t>(xcb_get_property_value_length(r)));
      std::free(r);
      if (!t.empty()) return t;
    }
    return {};
  }

  bool Mapped(xcb_window_t w) {
    xcb_get_window_attributes_reply_t* r = xcb_get_window_attributes_reply(C, xcb_get_window_attributes(C, w), nullptr);
    const bool viewable = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(r);
    return viewable;
  }

  // A top-level window whose title begins with `prefix`, mapped or not.
  std::optional<xcb_window_t> Find(const std::string& prefix, std::string& title) {
    xcb_query_tree_reply_t* r = xcb_query_tree_reply(C, xcb_query_tree(C, Root()), nullptr);
    if (!r) return std::nullopt;
    std::optional<xcb_window_t> found;
    const xcb_window_t* kids = xcb_query_tree_children(r);
    for (int i = 0; i < xcb_query_tree_children_length(r) && !found; ++i) {
      const std::string t = Title(kids[i]);
      if (t.rfind(prefix, 0) == 0) {
        found = kids[i];
        title = t;
      }
    }
    std::free(r);
    return found;
  }

  // The window's rectangle on the screen.
  bool Geometry(xcb_window_t w, int& x, int& y, int& width, int& height) {
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(C, xcb_get_geometry(C, w), nullptr);
    xcb_translate_coordinates_reply_t* t =
        xcb_translate_coordinates_reply(C, xcb_translate_coordinates(C, w, Root(), 0, 0), nullptr);
    const bool ok = g && t;
    if (ok) {
      x = t->dst_x;
      y = t->dst_y;
      width = g->width;
      height = g->height;
    }
    std::free(g);
    std::free(t);
    return ok;
  }

  QImage Screen() {
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(C)).data;
    xcb_get_image_reply_t* r = xcb_get_image_reply(
        C, xcb_get_image(C, XCB_IMAGE_FORMAT_Z_PIXMAP, Root(), 0, 0, s->width_in_pixels, s->height_in_pixels, ~0u),
        nullptr);
    QImage img;
    if (r && r->depth == 24 && xcb_get_image_data_length(r) == s->width_in_pixels * s->height_in_pixels * 4) {
      img = QImage(xcb_get_image_data(r), s->width_in_pixels, s->height_in_pixels, QImage::Format_RGB32).copy();
    }
    std::free(r);
    return img;
  }

  bool HasXTest() {
    const xcb_query_extension_reply_t* e = xcb_get_extension_data(C, &xcb_test_id);
    return e && e->present;
  }

  // The keycode that gives `sym` without modifiers; 0 when none does.
  xcb_keycode_t Keycode(xcb_keysym_t sym) {
    const xcb_setup_t* setup = xcb_get_setup(C);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* r = xcb_get_keyboard_mapping_reply(
        C, xcb_get_keyboard_mapping(C, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
    xcb_keycode_t code = 0;
    if (r) {
      const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r);
      for (int k = 0; k < count && !code; ++k)
        if (syms[k * r->keysyms_per_keycode] == sym) code = static_cast<xcb_keycode_t>(setup->min_keycode + k);
    }
    std::free(r);
    return code;
  }

  // Input as the user gives it, through the XTEST extension.
  void Fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0) {
    xcb_test_fake_input(C, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? Root() : XCB_NONE, x, y, 0);
    xcb_flush(C);
    std::this_thread::sleep_for(50ms);
  }
  void Click(int x, int y) {
    Fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(x), static_cast<int16_t>(y));
    std::this_thread::sleep_for(200ms);
    Fake(XCB_BUTTON_PRESS, 1);
    Fake(XCB_BUTTON_RELEASE, 1);
  }
  void Key(xcb_keysym_t sym, bool press) { Fake(press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, Keycode(sym)); }
  // Keys go to `w` (there is no window manager to give it the focus).
  void Focus(xcb_window_t w) {
    xcb_set_input_focus(C, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
    xcb_flush(C);
  }

  void Close(xcb_window_t w) {
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = Atom("WM_PROTOCOLS");
    ev.data.data32[0] = Atom("WM_DELETE_WINDOW");
    ev.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(C, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    xcb_flush(C);
  }

 private:
  xcb_connection_t* C;
};

// A free TCP port on this machine (free when asked; the program takes it
// moments later).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

// A logging program on the JSON port: connects, subscribes and keeps every
// line it receives, read on a thread of its own.
class TJsonClient {
 public:
  ~TJsonClient() {
    if (Fd >= 0) ::shutdown(Fd, SHUT_RDWR);
    if (Reader.joinable()) Reader.join();
    if (Fd >= 0) ::close(Fd);
  }
  bool Connect(int port) {
    Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (Fd < 0 || ::connect(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      if (Fd >= 0) ::close(Fd);
      Fd = -1;
      return false;
    }
    Reader = std::thread([this] { Read(); });
    return true;
  }
  bool Send(const std::string& line) {
    const std::string out = line + "\n";
    return ::send(Fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(Mutex);
    return Received;
  }

 private:
  void Read() {
    std::string pending;
    char buf[4096];
    for (ssize_t n; (n = ::recv(Fd, buf, sizeof buf, 0)) > 0;) {
      pending.append(buf, static_cast<std::size_t>(n));
      for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos; pending.erase(0, end + 2)) {
        std::lock_guard<std::mutex> lock(Mutex);
        Received.push_back(pending.substr(0, end));
      }
    }
  }
  int Fd = -1;
  std::thread Reader;
  std::mutex Mutex;
  std::vector<std::string> Received;
};

// The corrected text that lines[from..] build, kept as a logging program
// keeps it: each character's DeleteCount removes characters already shown.
std::string CorrectedText(const std::vector<std::string>& lines, std::size_t from) {
  std::vector<std::string> shown;
  for (std::size_t i = from; i < lines.size(); ++i) {
    const nlohmann::json j = nlohmann::json::parse(lines[i], nullptr, false);
    if (!j.is_object() || j.value("MessageType", "") != "mtCorrChar") continue;
    const std::size_t del = std::min<std::size_t>(j.value("DeleteCount", 0), shown.size());
    shown.resize(shown.size() - del);
    shown.push_back((j.value("NewLine", false) ? "\n" : "") + j.value("Ch", ""));
  }
  std::string text;
  for (const std::string& c : shown) text += c;
  return text;
}

// Lines of one type from lines[from..].
std::size_t CountType(const std::vector<std::string>& lines, std::size_t from, const std::string& type) {
  std::size_t n = 0;
  for (std::size_t i = from; i < lines.size(); ++i)
    n += lines[i].rfind("{\"MessageType\":\"" + type + "\"", 0) == 0;
  return n;
}

bool CallStackHas(const std::vector<std::string>& lines, const std::string& call) {
  for (const std::string& l : lines) {
    const nlohmann::json j = nlohmann::json::parse(l, nullptr, false);
    if (!j.is_object() || j.value("MessageType", "") != "mtCallStack" || !j["Calls"].is_array()) continue;
    for (const auto& c : j["Calls"])
      if (c.is_object() && c.value("Call", "") == call) return true;
  }
  return false;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The horizontal centres of the tool bar's pictures in a window picture,
// left to right: runs of columns that differ from the bar's background,
// wider than a separator.
std::vector<int> ToolBarIcons(const QImage& window) {
  constexpr int kTop = 6, kBottom = 22;  // inside the 29-pixel bar
  const QRgb background = window.pixel(window.width() - 3, (kTop + kBottom) / 2);
  std::vector<int> centres;
  int start = -1;
  for (int x = 0; x <= window.width(); ++x) {
    bool differs = false;
    for (int y = kTop; y <= kBottom && x < window.width() && !differs; ++y) differs = window.pixel(x, y) != background;
    if (differs && start < 0) start = x;
    if (!differs && start >= 0) {
      if (x - start >= 12) centres.push_back((start + x) / 2);
      start = -1;
    }
  }
  return centres;
}

template <class F>
bool WaitFor(F&& done, std::chrono::seconds limit) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return done();
}

// The marker strip in a window picture: its left column and the waterfall's
// top in picture rows, found from the strip's background and its two dotted
// default-tone lines.
struct TStrip {
  int X0 = -1;
  int WaterfallTop = 0;
  int Row(int bin) const { return WaterfallTop + kFftSize - 17 - bin; }
};

std::optional<TStrip> FindStrip(const QImage& img, std::string& why) {
  // The strip's right edge: the last column that is mostly strip background.
  int right = -1;
  for (int x = 0; x < img.width(); ++x) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y) n += img.pixel(x, y) == kStripBackground;
    if (n > img.height() / 5) right = x;
  }
  if (right < kStripWidth) {
    why = "no marker strip in the window";
    return std::nullopt;
  }
  TStrip s;
  s.X0 = right - kStripWidth + 1;
  std::vector<int> dotted;
  for (int y = 0; y < img.height(); ++y) {
    int n = 0;
    for (int x = s.X0 + 30; x <= right; ++x) n += img.pixel(x, y) == kDefaultTone;
    if (n >= 15) dotted.push_back(y);
  }
  if (dotted.size() != 2 || dotted[1] - dotted[0] != kDefaultSpaceBin - kDefaultMarkBin) {
    why = "the default tones' dotted lines: " + std::to_string(dotted.size()) + " rows";
    return std::nullopt;
  }
  // The higher bin is the upper row.
  s.WaterfallTop = dotted[0] - (kFftSize - 17 - kDefaultSpaceBin);
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Every tone (two marks, two spaces) stands out of the rows around it:
// measure(bin) at the tone (or a neighbour) beats the median of all rows by
// `margin`.
bool TonesStandOut(const std::function<double(int)>& measure, double margin, std::string& report) {
  std::vector<double> all;
  for (int b = 16; b < kFftSize - 16; ++b) all.push_back(measure(b));
  const double median = Median(all);
  bool ok = true;
  for (int mark : kMarkBins) {
    for (int bin : {mark, mark + kShiftBins}) {
      const double best = std::max({measure(bin - 1), measure(bin), measure(bin + 1)});
      report += " bin " + std::to_string(bin) + ": " + std::to_string(best);
      ok = ok && best > median + margin;
    }
  }
  // The strongest row away from the tones, for the record.
  double other = 0;
  for (int b = 16; b < kFftSize - 16; ++b) {
    bool near = false;
    for (int mark : kMarkBins)
      for (int bin : {mark, mark + kShiftBins}) near = near || std::abs(b - bin) <= 2;
    if (!near) other = std::max(other, measure(b));
  }
  report += " (median " + std::to_string(median) + ", strongest other row " + std::to_string(other) + ")";
  return ok;
}

int CheckWaterfall(const QImage& img) {
  std::string why;
  const std::optional<TStrip> s = FindStrip(img, why);
  if (!s) return Fail(why);
  // The newest 100 columns, just left of the strip (the panel's frame aside).
  const int x1 = s->X0 - 2, x0 = std::max(0, x1 - 100);
  auto rowMean = [&](int bin) {
    const int y = s->Row(bin);
    if (y < 0 || y >= img.height()) return 0.0;
    double sum = 0;
    for (int x = x0; x < x1; ++x) sum += qGray(img.pixel(x, y));
    return sum / (x1 - x0);
  };
  bool flat = true;
  const QRgb first = img.pixel(x0, s->Row(239));
  for (int b = 16; b < 240 && flat; ++b)
    for (int x = x0; x < x1 && flat; ++x) flat = img.pixel(x, s->Row(b)) == first;
  if (flat) return Fail("the waterfall area is one flat colour");
  std::string report;
  if (!TonesStandOut(rowMean, 20.0, report)) return Fail("waterfall rows at the tones are not brighter:" + report);
  std::printf("brenvo_e2e: waterfall brightness%s\n", report.c_str());
  return 0;
}

int RunProgram(const std::string& exe, const fs::path& outDir) {
  brenvo::testing::TempDir dir;
  const fs::path home = dir.Path() / "home", data = dir.Path() / "data", fifo = dir.Path() / "audio.fifo";
  fs::create_directories(home);
  fs::create_directories(data);
  fs::create_directories(outDir);
  if (::mkfifo(fifo.c_str(), 0600) != 0) return Fail("mkfifo");
  // Read-write: opening neither blocks nor sees the end of the file while
  // the program comes and goes.
  const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail("open the FIFO");
  // Expert mode, for the save and play-back buttons.
  const fs::path product = data / "Quellan" / "Products" / "brenvo";
  fs::create_directories(product);
  std::ofstream(product / "brenvo.ini") << "[Debug]\nExpertMode=1\n";
  const int port = FreePort();
  if (port <= 0) return Fail("no free TCP port");
  const std::string portParam = "PORT=" + std::to_string(port);
  if (!fs::exists(fs::path(exe).parent_path() / "brenvo.html")) return Fail("no user guide beside the program");
  const fs::path conf = dir.Path() / "asound.conf";
  std::ofstream(conf) << "pcm.!default { type file slave.pcm { type null } file \"/dev/null\" infile \""
                      << fifo.string() << "\" format \"raw\" }\n";

  TFeeder feeder(fd, Recording());
  const pid_t pid = ::fork();
  if (pid < 0) return Fail("fork");
  if (pid == 0) {
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::execl(exe.c_str(), exe.c_str(), portParam.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  int status = 0;
  auto exited = [&] { return ::waitpid(pid, &status, WNOHANG) == pid; };
  auto kill = [&](const std::string& why) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return Fail(why);
  };

  TX x;
  if (!x.Ok()) return kill("no X server (run under xvfb-run)");
  std::optional<xcb_window_t> win;
  std::string title;
  for (auto end = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < end;) {
    if (exited()) return Fail("the program ended before its window appeared, status " + std::to_string(status));
    win = x.Find("BRENVO", title);
    if (win && x.Mapped(*win)) break;
    std::this_thread::sleep_for(100ms);
  }
  if (!win) return kill("no window titled BRENVO...");
  if (!x.Mapped(*win)) return kill("the window is not mapped");
  std::printf("brenvo_e2e: window \"%s\" mapped\n", title.c_str());

  // A logging program follows the selected signal.
  TJsonClient client;
  if (!WaitFor([&] { return client.Connect(port); }, 20s)) return kill("no JSON server on port " + std::to_string(port));
  if (!client.Send(R"({"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtCorrChar","mtCallStack"]})"))
    return kill("cannot send the subscription");

  // Audio flows from now on.
  feeder.Start();
  std::this_thread::sleep_for(8s);
  if (exited()) return Fail("the program ended while decoding, status " + std::to_string(status));
  const QImage screen = x.Screen();
  int wx = 0, wy = 0, ww = 0, wh = 0;
  if (screen.isNull() || !x.Geometry(*win, wx, wy, ww, wh)) return kill("no screenshot");
  const QImage window = screen.copy(wx, wy, ww, wh);
  screen.save(QString::fromStdString((outDir / "screen.png").string()));
  window.save(QString::fromStdString((outDir / "window.png").string()));
  std::printf("brenvo_e2e: screenshot in %s\n", (outDir / "window.png").c_str());

  std::string why;
  const std::optional<TStrip> strip = FindStrip(window, why);
  if (!strip) return kill(why);
  auto barLength = [&](int bin) {
    const int y = strip->Row(bin);
    int n = 0;
    if (y < 0 || y >= window.height()) return 0.0;
    for (int px = strip->X0 + kScaleWidth; px < strip->X0 + kStripWidth && window.pixel(px, y) == kPeakBar; ++px) ++n;
    return static_cast<double>(n);
  };
  std::string report;
  if (!TonesStandOut(barLength, 6.0, report)) return kill("marker strip bars at the tones:" + report);
  std::printf("brenvo_e2e: peak bars%s\n", report.c_str());

  // A click between the first signal's tones selects it.
  if (!x.HasXTest()) return kill("no XTEST extension in the X server");
  const int pairCentre = kMarkBins[0] + kShiftBins / 2;
  x.Click(wx + strip->X0 - 50, wy + strip->Row(pairCentre));
  // Its corrected text and callsign reach the logging program.
  if (!WaitFor([&] { return Occurrences(CorrectedText(client.Lines(), 0), kSelectedMessage) >= 2 &&
                            CallStackHas(client.Lines(), kSelectedCall); }, 60s))
    return kill("JSON: corrected text \"" + CorrectedText(client.Lines(), 0) + "\", call stack with " +
                kSelectedCall + ": " + (CallStackHas(client.Lines(), kSelectedCall) ? "yes" : "no"));
  if (CountType(client.Lines(), 0, "mtRawChar") == 0) return kill("JSON: no raw characters");
  std::printf("brenvo_e2e: JSON: %zu lines, corrected text \"%s\"\n", client.Lines().size(),
              CorrectedText(client.Lines(), 0).c_str());
  // The window as it decodes the selected signal (the README's picture).
  const QImage decoding = x.Screen();
  if (!decoding.isNull())
    decoding.copy(wx, wy, ww, wh).save(QString::fromStdString((outDir / "decoding.png").string()));

  // Save the last 60 s: the save button, its dialog answered with Return.
  const std::vector<int> icons = ToolBarIcons(window);
  if (icons.size() < 2) return kill("no save and play-back buttons in the tool bar");
  const int saveX = wx + icons[icons.size() - 2], playX = wx + icons.back(), barY = wy + 14;
  x.Click(saveX, barY);
  std::string dialogTitle;
  std::optional<xcb_window_t> dialog;
  if (!WaitFor([&] { return (dialog = x.Find("Save Audio", dialogTitle)) && x.Mapped(*dialog); }, 20s))
    return kill("no save dialog");
  std::this_thread::sleep_for(500ms);
  x.Focus(*dialog);
  x.Key(0xff0d, true);  // Return
  x.Key(0xff0d, false);
  const fs::path wavDir = product / "Wav";
  fs::path htm;
  auto findLog = [&] {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(wavDir, ec))
      if (e.path().extension() == ".htm") htm = e.path();
    return !htm.empty();
  };
  if (!WaitFor(findLog, 20s)) return kill("no recording saved in " + wavDir.string());
  const fs::path wav = fs::path(htm).replace_extension(".wav");
  std::ifstream page(htm);
  const std::string pageText((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  if (!fs::exists(wav) || pageText.find(kSelectedCall) == std::string::npos)
    return kill("the recording " + wav.string() + " or its log without " + kSelectedCall);
  const std::size_t liveMessages = Occurrences(CorrectedText(client.Lines(), 0), kSelectedMessage);
  std::printf("brenvo_e2e: saved %s (%ju bytes) and its log\n", wav.c_str(),
              static_cast<uintmax_t>(fs::file_size(wav)));

  // Play it back with Ctrl held: no dialog, the same text again.
  const std::size_t mark = client.Lines().size();
  x.Key(0xffe3, true);  // Control_L
  x.Click(playX, barY);
  x.Key(0xffe3, false);
  // The recording holds the live text and what came before the click.
  const std::size_t wanted = std::max<std::size_t>(2, liveMessages);
  bool asked = false;
  if (!WaitFor([&] {
        asked = asked || x.Find("Play Back Audio", dialogTitle).has_value();
        return asked || Occurrences(CorrectedText(client.Lines(), mark), kSelectedMessage) >= wanted;
      }, 60s) || asked)
    return kill(asked ? std::string("Ctrl held, and the play-back asked for a file")
                      : "play-back text \"" + CorrectedText(client.Lines(), mark) + "\", wanted " +
                            std::to_string(wanted) + " messages");
  std::printf("brenvo_e2e: played back with Ctrl: \"%s\" (%zu messages live)\n",
              CorrectedText(client.Lines(), mark).c_str(), liveMessages);

  x.Close(*win);
  for (auto end = std::chrono::steady_clock::now() + 30s; !exited();) {
    if (std::chrono::steady_clock::now() > end) return kill("the program did not end after WM_DELETE_WINDOW");
    std::this_thread::sleep_for(50ms);
  }
  feeder.Stop();
  ::close(fd);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return Fail("exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + " after close");
  std::printf("brenvo_e2e: closed, exit status 0\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--waterfall") {
    QImage img;
    if (!img.load(argv[2])) return Fail(std::string("cannot read ") + argv[2]);
    return CheckWaterfall(img.convertToFormat(QImage::Format_RGB32));
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: brenvo_e2e BRENVO OUTDIR | brenvo_e2e --waterfall WINDOW.png\n");
    return 2;
  }
  return RunProgram(argv[1], argv[2]);
}
