// The real program as a user starts it, in a real X server (run under xvfb-run).
//
// brenvo_e2e BRENVO OUTDIR: starts BRENVO in expert mode with a fresh HOME and
// data folder, "PORT=" a free port, and an ALSA default capture device that
// reads a two-signal RTTY recording from a FIFO (this program decides when
// audio flows). Expects the window mapped, titled "BRENVO...", with marker strip
// bars at both tone pairs (its picture: OUTDIR/window.png); a click on the
// waterfall selects a signal whose corrected text and callsign reach this
// program as a logging program on the JSON port (picture: OUTDIR/decoding.png);
// strangers on the port (10 clients flooding bad lines, then one opening
// connections until descriptors run out, the program running under a limit of
// 1024) neither stop the decoding nor hold up a well-behaved client's answers;
// the save button saves the last 60 s, play-back with Ctrl held gives the same
// text again; the soundcard button starts capture again, whose source then
// stalls; closed as a window manager would (WM_DELETE_WINDOW), it still exits
// 0 within 5 s, with its settings saved and the port free.
//
// brenvo_e2e --waterfall PNG: brighter waterfall rows at the tone pairs' bins
// in a window picture.
//
// brenvo_e2e --placement BRENVO: under openbox, the window's frame lies on
// the screen at its first start, and a second start brings it back alike.
//
// Exit 0 when every check passes, 1 with a line naming the failed check.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
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
#include <memory>
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
constexpr int kFftSize = 256;
// Where the window puts the default tones (2125 and 2295 Hz, lower sideband).
constexpr int kDefaultMarkBin = 181, kDefaultSpaceBin = 196;
constexpr QRgb kStripBackground = 0xFF133153, kDefaultTone = 0xFF808080, kPeakBar = 0xFFCCCCFF;
constexpr int kStripWidth = 100, kScaleWidth = 8;

int Fail(const std::string& what) {
  std::fprintf(stderr, "brenvo_e2e: FAILED: %s\n", what.c_str());
  return 1;
}

// Interleaved 16-bit stereo, the same audio on both channels.
std::vector<int16_t> Recording() {
  std::vector<BandSignal> band;
  for (int i = 0; i < 2; ++i)
    band.push_back({.Params = {.MarkHz = kMarkBins[i] * 3000.0 / kFftSize,
                               .SpaceHz = (kMarkBins[i] + kShiftBins) * 3000.0 / kFftSize,
                               .IdleBeforeSec = 0.3,
                               .StartPhase = 0.9 * i},
                    .Text = kTexts[i]});
  const double noise = brenvo::testing::NoiseSigmaFor(band[0].Params.Amplitude, 20.0);
  std::vector<int16_t> out;
  for (float v : brenvo::testing::SynthesizeBand(band, kSeconds, noise, 7))
    out.insert(out.end(), 2, static_cast<int16_t>(std::clamp(std::nearbyint(v / 65536.0), -32768.0, 32767.0)));
  return out;
}

// Feeds the FIFO in real time, a few blocks ahead, over and over, until
// stopped. Writes never block: a full pipe drops the block.
void Feed(const std::stop_token& stop, int fd, const std::vector<int16_t>& audio) {
  const std::size_t blockValues = kFrames * 2, blocks = audio.size() / blockValues;
  const auto start = std::chrono::steady_clock::now();
  constexpr int kLead = 8;
  for (std::size_t n = 0; !stop.stop_requested(); ++n) {
    const auto due = start + std::chrono::duration<double>((static_cast<double>(n) - kLead) * kFrames / 6000.0);
    std::this_thread::sleep_until(std::chrono::time_point_cast<std::chrono::steady_clock::duration>(due));
    [[maybe_unused]] ssize_t w = ::write(fd, audio.data() + (n % blocks) * blockValues, blockValues * sizeof(int16_t));
  }
}

// An xcb reply, which the caller frees.
template <class T>
std::unique_ptr<T, void (*)(void*)> Own(T* reply) {
  return {reply, [](void* p) { std::free(p); }};
}

// A minimal X client: finds windows, photographs the screen, gives input as
// the user does (through XTEST) and closes the window as a window manager.
class TX {
 public:
  TX() : C(xcb_connect(nullptr, nullptr)) {}
  ~TX() { xcb_disconnect(C); }
  // Connected, with the XTEST extension for input.
  bool Ok() {
    if (xcb_connection_has_error(C)) return false;
    const xcb_query_extension_reply_t* e = xcb_get_extension_data(C, &xcb_test_id);
    return e && e->present;
  }
  xcb_atom_t Atom(const char* name) {
    const auto length = static_cast<uint16_t>(std::strlen(name));
    auto r = Own(xcb_intern_atom_reply(C, xcb_intern_atom(C, 0, length, name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
  }
  std::string Title(xcb_window_t w) {
    auto r = Own(xcb_get_property_reply(
        C, xcb_get_property(C, 0, w, Atom("_NET_WM_NAME"), XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    if (!r) return "";
    return {static_cast<const char*>(xcb_get_property_value(r.get())),
            static_cast<std::size_t>(xcb_get_property_value_length(r.get()))};
  }
  // Edges of the icons the window offers a window manager (_NET_WM_ICON:
  // width, height, then the pixels, for each).
  std::vector<uint32_t> IconSizes(xcb_window_t w) {
    auto r = Own(xcb_get_property_reply(
        C, xcb_get_property(C, 0, w, Atom("_NET_WM_ICON"), XCB_ATOM_CARDINAL, 0, 1u << 20), nullptr));
    std::vector<uint32_t> sizes;
    const std::size_t n = r ? static_cast<std::size_t>(xcb_get_property_value_length(r.get())) / 4 : 0;
    const auto* v = n ? static_cast<const uint32_t*>(xcb_get_property_value(r.get())) : nullptr;
    for (std::size_t i = 0; i + 2 <= n; i += 2 + std::size_t{v[i]} * v[i + 1]) sizes.push_back(v[i]);
    return sizes;
  }
  // The first top-level window whose title begins with `prefix`, mapped or
  // not; XCB_NONE when there is none.
  xcb_window_t Find(const std::string& prefix) {
    auto r = Own(xcb_query_tree_reply(C, xcb_query_tree(C, Screen()->root), nullptr));
    for (int i = 0; r && i < xcb_query_tree_children_length(r.get()); ++i)
      if (Title(xcb_query_tree_children(r.get())[i]).rfind(prefix, 0) == 0) return xcb_query_tree_children(r.get())[i];
    return XCB_NONE;
  }
  // The window manager's client whose title begins with `prefix` (a
  // reparenting manager keeps clients inside frames of its own).
  xcb_window_t FindClient(const std::string& prefix) {
    auto r = Own(xcb_get_property_reply(
        C, xcb_get_property(C, 0, Screen()->root, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 1024), nullptr));
    const int n = r ? xcb_get_property_value_length(r.get()) / 4 : 0;
    for (int i = 0; i < n; ++i) {
      const xcb_window_t w = static_cast<const xcb_window_t*>(xcb_get_property_value(r.get()))[i];
      if (Title(w).rfind(prefix, 0) == 0) return w;
    }
    return XCB_NONE;
  }
  // A property of 32-bit numbers (_NET_FRAME_EXTENTS: left, right, top, bottom).
  std::vector<uint32_t> Cardinals(xcb_window_t w, const char* name) {
    auto r = Own(xcb_get_property_reply(C, xcb_get_property(C, 0, w, Atom(name), XCB_ATOM_CARDINAL, 0, 64), nullptr));
    const auto* v = r ? static_cast<const uint32_t*>(xcb_get_property_value(r.get())) : nullptr;
    return v ? std::vector<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4) : std::vector<uint32_t>{};
  }
  bool WindowManagerRuns() {
    auto r = Own(xcb_get_property_reply(
        C, xcb_get_property(C, 0, Screen()->root, Atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1), nullptr));
    return r && xcb_get_property_value_length(r.get()) == 4;
  }
  bool Mapped(xcb_window_t w) {
    auto r = Own(xcb_get_window_attributes_reply(C, xcb_get_window_attributes(C, w), nullptr));
    return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
  }
  // The window's rectangle on the screen; empty when unknown.
  QRect Rect(xcb_window_t w) {
    auto g = Own(xcb_get_geometry_reply(C, xcb_get_geometry(C, w), nullptr));
    auto t = Own(xcb_translate_coordinates_reply(C, xcb_translate_coordinates(C, w, Screen()->root, 0, 0), nullptr));
    return g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
  }
  // What the screen shows in `r`; null when it cannot be read.
  QImage Grab(const QRect& r) {
    const xcb_screen_t* s = Screen();
    auto img = Own(xcb_get_image_reply(
        C, xcb_get_image(C, XCB_IMAGE_FORMAT_Z_PIXMAP, s->root, 0, 0, s->width_in_pixels, s->height_in_pixels, ~0u),
        nullptr));
    if (r.isEmpty() || !img || img->depth != 24 ||
        xcb_get_image_data_length(img.get()) != s->width_in_pixels * s->height_in_pixels * 4)
      return {};
    return QImage(xcb_get_image_data(img.get()), s->width_in_pixels, s->height_in_pixels, QImage::Format_RGB32).copy(r);
  }

  void Click(int x, int y) {
    Fake(XCB_MOTION_NOTIFY, 0, static_cast<int16_t>(x), static_cast<int16_t>(y));
    std::this_thread::sleep_for(200ms);
    Fake(XCB_BUTTON_PRESS, 1);
    Fake(XCB_BUTTON_RELEASE, 1);
  }
  // The key that gives `sym` without modifiers.
  void Key(xcb_keysym_t sym, bool press) {
    const xcb_setup_t* setup = xcb_get_setup(C);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto r = Own(xcb_get_keyboard_mapping_reply(
        C, xcb_get_keyboard_mapping(C, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
    for (int k = 0; r && k < count; ++k)
      if (xcb_get_keyboard_mapping_keysyms(r.get())[k * r->keysyms_per_keycode] == sym)
        return Fake(press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<uint8_t>(setup->min_keycode + k));
  }
  // Keys go to `w` (there is no window manager to give it the focus).
  void Focus(xcb_window_t w) {
    xcb_set_input_focus(C, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
    xcb_flush(C);
  }
  void Close(xcb_window_t w) {
    xcb_client_message_event_t ev{.response_type = XCB_CLIENT_MESSAGE, .format = 32, .sequence = 0, .window = w,
                                  .type = Atom("WM_PROTOCOLS"), .data = {.data32 = {Atom("WM_DELETE_WINDOW")}}};
    xcb_send_event(C, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    xcb_flush(C);
  }

 private:
  const xcb_screen_t* Screen() const { return xcb_setup_roots_iterator(xcb_get_setup(C)).data; }
  void Fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0) {
    xcb_test_fake_input(C, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? Screen()->root : XCB_NONE, x, y,
                        0);
    xcb_flush(C);
    std::this_thread::sleep_for(50ms);
  }
  xcb_connection_t* C;
};

sockaddr_in Loopback(int port) {
  return {.sin_family = AF_INET, .sin_port = htons(static_cast<uint16_t>(port)), .sin_addr = {htonl(INADDR_LOOPBACK)},
          .sin_zero = {}};
}

// A free TCP port on this machine (free when asked; the program takes it
// moments later).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  ::close(fd);
  return ok ? ntohs(a.sin_port) : -1;
}

// A logging program on the JSON port: it subscribes and keeps every message
// it receives.
class TJsonClient {
 public:
  ~TJsonClient() { ::close(Fd); }
  bool Connect(int port, const std::string& request) {
    ::close(Fd);
    Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Loopback(port);
    const std::string line = request + "\n";
    return ::connect(Fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
           ::send(Fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  }
  bool Send(const std::string& line) {
    return ::send(Fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  }
  // Every line so far, parsed (what has arrived is read without waiting).
  const std::vector<nlohmann::json>& Lines() {
    char buf[4096];
    for (ssize_t n; (n = ::recv(Fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
      Pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t end; (end = Pending.find("\r\n")) != std::string::npos; Pending.erase(0, end + 2))
      Received.push_back(nlohmann::json::parse(Pending.substr(0, end), nullptr, false));
    return Received;
  }

 private:
  int Fd = -1;
  std::string Pending;
  std::vector<nlohmann::json> Received;
};

// The messages of one type from lines[from..].
std::vector<nlohmann::json> OfType(const std::vector<nlohmann::json>& lines, std::size_t from, const char* type) {
  std::vector<nlohmann::json> out;
  for (std::size_t i = from; i < lines.size(); ++i)
    if (lines[i].is_object() && lines[i].value("MessageType", "") == type) out.push_back(lines[i]);
  return out;
}

// The corrected text that lines[from..] build, kept as a logging program
// keeps it: each character's DeleteCount removes characters already shown.
std::string CorrectedText(const std::vector<nlohmann::json>& lines, std::size_t from) {
  std::vector<std::string> shown;
  for (const nlohmann::json& j : OfType(lines, from, "mtCorrChar")) {
    shown.resize(shown.size() - std::min<std::size_t>(j.value("DeleteCount", 0), shown.size()));
    shown.push_back(std::string(j.value("NewLine", false) ? "\n" : "") + j.value("Ch", ""));
  }
  std::string text;
  for (const std::string& c : shown) text += c;
  return text;
}

bool CallStackHas(const std::vector<nlohmann::json>& lines, const std::string& call) {
  for (const nlohmann::json& j : OfType(lines, 0, "mtCallStack"))
    for (const nlohmann::json& c : j.value("Calls", nlohmann::json::array()))
      if (c.is_object() && c.value("Call", "") == call) return true;
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
  for (int x = 0, start = -1; x <= window.width(); ++x) {
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

// The pixels of colour `c` in `r`.
int Count(const QImage& img, const QRect& r, QRgb c) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += img.pixel(x, y) == c;
  return n;
}

std::optional<TStrip> FindStrip(const QImage& img) {
  // The strip's right edge: the last column that is mostly strip background.
  int right = -1;
  for (int x = 0; x < img.width(); ++x)
    if (Count(img, QRect(x, 0, 1, img.height()), kStripBackground) > img.height() / 5) right = x;
  if (right < kStripWidth) {
    Fail("no marker strip in the window");
    return std::nullopt;
  }
  TStrip s{.X0 = right - kStripWidth + 1};
  std::vector<int> dotted;
  for (int y = 0; y < img.height(); ++y)
    if (Count(img, QRect(QPoint(s.X0 + 30, y), QPoint(right, y)), kDefaultTone) >= 15) dotted.push_back(y);
  if (dotted.size() != 2 || dotted[1] - dotted[0] != kDefaultSpaceBin - kDefaultMarkBin) {
    Fail("the default tones' dotted lines: " + std::to_string(dotted.size()) + " rows");
    return std::nullopt;
  }
  // The higher bin is the upper row.
  s.WaterfallTop = dotted[0] - (kFftSize - 17 - kDefaultSpaceBin);
  return s;
}

// Every tone (two marks, two spaces) stands out of the rows around it:
// measure(bin) at the tone (or a neighbour) beats the median of all rows by
// `margin`. Reported either way.
bool TonesStandOut(const std::function<double(int)>& measure, double margin, const std::string& what) {
  std::vector<double> all;
  for (int b = 16; b < kFftSize - 16; ++b) all.push_back(measure(b));
  std::sort(all.begin(), all.end());
  const double median = all[all.size() / 2];
  std::string report;
  bool ok = true;
  for (int mark : kMarkBins) {
    for (int bin : {mark, mark + kShiftBins}) {
      const double best = std::max({measure(bin - 1), measure(bin), measure(bin + 1)});
      report += " bin " + std::to_string(bin) + ": " + std::to_string(best);
      ok = ok && best > median + margin;
    }
  }
  report += " (median " + std::to_string(median) + ")";
  if (ok) std::printf("brenvo_e2e: %s%s\n", what.c_str(), report.c_str());
  if (!ok) Fail(what + " do not stand out:" + report);
  return ok;
}

int CheckWaterfall(const QImage& img) {
  const std::optional<TStrip> s = FindStrip(img);
  if (!s) return 1;
  // The newest 100 columns, just left of the strip (the panel's frame aside).
  const int x1 = s->X0 - 2, x0 = std::max(0, x1 - 100);
  const QRect area(QPoint(x0, s->Row(239)), QPoint(x1 - 1, s->Row(16)));
  if (Count(img, area, img.pixel(area.topLeft())) == area.width() * area.height())
    return Fail("the waterfall area is one flat colour");
  auto rowMean = [&](int bin) {
    const int y = s->Row(bin);
    double sum = 0;
    for (int x = x0; x < x1 && y >= 0 && y < img.height(); ++x) sum += qGray(img.pixel(x, y));
    return sum / (x1 - x0);
  };
  return TonesStandOut(rowMean, 20.0, "waterfall rows at the tones") ? 0 : 1;
}

// A connected socket to the program's port; -1 when none can be had.
int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const timeval limit{.tv_sec = 5, .tv_usec = 0};  // also for the connect: a port that takes no one fails
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const sockaddr_in a = Loopback(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// Clients that send bad lines as fast as the port takes them, reading every
// reply, until stopped.
void FloodBadLines(const std::stop_token& stop, int port, int clients) {
  const std::string bad = [] {
    std::string s;
    for (int i = 0; i < 4096; ++i) s += "x\n";
    return s;
  }();
  std::vector<pollfd> fds;
  for (int i = 0; i < clients; ++i) fds.push_back({Connect(port), POLLIN | POLLOUT, 0});
  char buf[1 << 16];
  while (!stop.stop_requested()) {
    if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
    for (const pollfd& p : fds) {
      if (p.revents & POLLIN) (void)::recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (p.revents & POLLOUT) (void)::send(p.fd, bad.data(), bad.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
  }
  for (const pollfd& p : fds) ::close(p.fd);
}

// A well-behaved client asks for the settings `times` times, 100 ms apart: the
// longest wait for an answer in ms (-1: one never came within 5 s).
double LongestSettingsAnswer(int port, int times) {
  TJsonClient c;
  const std::string request = R"({"Command":"cmdRequestMessageTypes","Arguments":["mtSettings"]})";
  if (!c.Connect(port, request)) return -1;
  double longest = 0;
  for (int i = 0; i < times; ++i) {
    const auto asked = std::chrono::steady_clock::now();
    if (i > 0 && !c.Send(request + "\n")) return -1;
    const auto answered = [&] { return OfType(c.Lines(), 0, "mtSettings").size() > static_cast<std::size_t>(i); };
    while (!answered()) {
      if (std::chrono::steady_clock::now() - asked > 5s) return -1;
      std::this_thread::sleep_for(1ms);
    }
    longest = std::max(longest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count());
    std::this_thread::sleep_for(100ms);
  }
  return longest;
}

// The program under test, killed if it is still running when the test ends.
struct TChild {
  pid_t Pid = -1;
  int Status = 0;
  bool Ended = false;
  bool Exited() { return Ended = Ended || ::waitpid(Pid, &Status, WNOHANG) == Pid; }
  std::string StatusText() const {
    return WIFEXITED(Status) ? " exit status " + std::to_string(WEXITSTATUS(Status))
                             : " signal " + std::to_string(WTERMSIG(Status));
  }
  ~TChild() {
    if (Pid <= 0 || Exited()) return;
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, &Status, 0);
  }
};

// The program with a fresh HOME and data folder and its own ALSA
// configuration, as a user starts it; -1 when it cannot be started.
pid_t Launch(const std::string& exe, const fs::path& home, const fs::path& data, const fs::path& conf,
             const char* param) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  ::setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  ::unsetenv("WAYLAND_DISPLAY");
  // The usual desktop limit, which a stranger's connections could exhaust.
  const rlimit files{1024, 1024};
  ::setrlimit(RLIMIT_NOFILE, &files);
  ::execl(exe.c_str(), exe.c_str(), param, static_cast<char*>(nullptr));
  std::_Exit(127);
}

// Under a window manager (openbox): at its first start the whole window,
// title bar included, lies on the screen at its top left corner; a second
// start with the settings the first saved brings the same place and size.
int RunPlacement(const std::string& exe) {
  brenvo::testing::TempDir dir;
  const fs::path home = dir.Path() / "home", data = dir.Path() / "data", conf = dir.Path() / "asound.conf";
  for (const fs::path& d : {home, data}) fs::create_directories(d);
  std::ofstream(conf) << "# no capture device\n";
  TX x;
  if (!x.Ok()) return Fail("no X server (run under xvfb-run)");
  TChild wm;
  wm.Pid = ::fork();
  if (wm.Pid == 0) {
    ::setenv("HOME", home.c_str(), 1);  // whatever it keeps, it keeps here
    ::execlp("openbox", "openbox", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  if (!WaitFor([&] { return wm.Exited() || x.WindowManagerRuns(); }, 20s) || wm.Ended)
    return Fail("openbox did not start");
  QRect first;
  for (int run = 0; run < 2; ++run) {
    TChild child;
    child.Pid = Launch(exe, home, data, conf, "PORT=0");
    xcb_window_t win = XCB_NONE;
    std::vector<uint32_t> frame;
    WaitFor([&] {
      return child.Exited() || ((win = x.FindClient("BRENVO")) && x.Mapped(win) &&
                                (frame = x.Cardinals(win, "_NET_FRAME_EXTENTS")).size() == 4);
    }, 60s);
    if (child.Ended || frame.size() != 4) return Fail("no framed window," + child.StatusText());
    std::this_thread::sleep_for(500ms);  // placed and settled
    const QRect client = x.Rect(win);
    const QPoint corner = client.topLeft() - QPoint(static_cast<int>(frame[0]), static_cast<int>(frame[2]));
    std::printf("brenvo_e2e: start %d: client %dx%d at %d,%d, frame corner at %d,%d\n", run + 1, client.width(),
                client.height(), client.x(), client.y(), corner.x(), corner.y());
    if (corner != QPoint(0, 0)) return Fail("the window's frame is not at the screen's top left corner");
    if (run == 1 && client != first) return Fail("the second start's window differs from the first's");
    first = client;
    x.Close(win);
    if (!WaitFor([&] { return child.Exited(); }, 10s)) return Fail("the program did not end after WM_DELETE_WINDOW");
  }
  ::kill(wm.Pid, SIGTERM);
  return 0;
}

int RunProgram(const std::string& exe, const fs::path& outDir) {
  brenvo::testing::TempDir dir;
  const fs::path home = dir.Path() / "home", fifo = dir.Path() / "audio.fifo", conf = dir.Path() / "asound.conf";
  const fs::path data = dir.Path() / "data", product = data / "Quellan" / "Products" / "brenvo";
  for (const fs::path& d : {home, product, outDir}) fs::create_directories(d);
  // Expert mode, for the save and play-back buttons.
  std::ofstream(product / "brenvo.ini") << "[Debug]\nExpertMode=1\n";
  if (::mkfifo(fifo.c_str(), 0600) != 0) return Fail("mkfifo");
  // Read-write: opening neither blocks nor sees the end of the file while
  // the program comes and goes.
  const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail("open the FIFO");
  std::ofstream(conf) << "pcm.!default { type file slave.pcm { type null } file \""
                      << (dir.Path() / "captured.raw").string() << "\" infile \"" << fifo.string()
                      << "\" format \"raw\" }\n";
  const int port = FreePort();
  if (port <= 0) return Fail("no free TCP port");
  const std::string portParam = "PORT=" + std::to_string(port);
  if (!fs::exists(fs::path(exe).parent_path() / "brenvo.html")) return Fail("no user guide beside the program");
  const std::vector<int16_t> audio = Recording();

  TChild child;
  child.Pid = Launch(exe, home, data, conf, portParam.c_str());
  if (child.Pid < 0) return Fail("fork");
  auto status = [&] { return child.StatusText(); };

  TX x;
  if (!x.Ok()) return Fail("no X server with the XTEST extension (run under xvfb-run)");
  xcb_window_t win = XCB_NONE;
  WaitFor([&] { return child.Exited() || ((win = x.Find("BRENVO")) && x.Mapped(win)); }, 60s);
  if (child.Ended) return Fail("the program ended before its window appeared," + status());
  if (!win) return Fail("no window titled BRENVO...");
  if (!x.Mapped(win)) return Fail("the window is not mapped");
  std::printf("brenvo_e2e: window \"%s\" mapped\n", x.Title(win).c_str());
  const std::vector<uint32_t> iconSizes = x.IconSizes(win);
  if (std::find(iconSizes.begin(), iconSizes.end(), 32u) == iconSizes.end())
    return Fail("the window offers no 32-pixel icon");

  // A logging program follows the selected signal.
  TJsonClient client;
  const std::string subscribe =
      R"({"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtCorrChar","mtCallStack"]})";
  if (!WaitFor([&] { return client.Connect(port, subscribe); }, 20s))
    return Fail("no JSON server on port " + std::to_string(port));

  std::jthread feeder(Feed, fd, std::cref(audio));
  std::this_thread::sleep_for(8s);
  if (child.Exited()) return Fail("the program ended while decoding," + status());
  const QRect rect = x.Rect(win);
  const QImage window = x.Grab(rect);
  if (window.isNull()) return Fail("no screenshot");
  window.save(QString::fromStdString((outDir / "window.png").string()));
  std::printf("brenvo_e2e: screenshot in %s\n", (outDir / "window.png").c_str());

  const std::optional<TStrip> strip = FindStrip(window);
  if (!strip) return 1;
  auto barLength = [&](int bin) {
    const int y = strip->Row(bin), x0 = strip->X0 + kScaleWidth;
    int x = x0;
    while (y >= 0 && y < window.height() && x < strip->X0 + kStripWidth && window.pixel(x, y) == kPeakBar) ++x;
    return static_cast<double>(x - x0);
  };
  if (!TonesStandOut(barLength, 6.0, "marker strip bars at the tones")) return 1;

  // A click between the first signal's tones selects it; its corrected text
  // and callsign reach the logging program.
  x.Click(rect.x() + strip->X0 - 50, rect.y() + strip->Row(kMarkBins[0] + kShiftBins / 2));
  if (!WaitFor([&] { return Occurrences(CorrectedText(client.Lines(), 0), kSelectedMessage) >= 2 &&
                            CallStackHas(client.Lines(), kSelectedCall); }, 60s))
    return Fail("JSON: corrected text \"" + CorrectedText(client.Lines(), 0) + "\", call stack with " +
                kSelectedCall + ": " + (CallStackHas(client.Lines(), kSelectedCall) ? "yes" : "no"));
  if (OfType(client.Lines(), 0, "mtRawChar").empty()) return Fail("JSON: no raw characters");
  std::printf("brenvo_e2e: JSON: %zu lines, corrected text \"%s\"\n", client.Lines().size(),
              CorrectedText(client.Lines(), 0).c_str());
  x.Grab(rect).save(QString::fromStdString((outDir / "decoding.png").string()));  // the README's picture

  // Strangers on the port. The decoding goes on: the logging program's text
  // grows all the while.
  auto textGrows = [&](const std::function<void()>& meanwhile) {
    const std::size_t before = CorrectedText(client.Lines(), 0).size();
    meanwhile();
    return CorrectedText(client.Lines(), 0).size() >= before + 10;
  };
  double longest = 0;
  const bool grewUnderFlood = textGrows([&] {
    std::jthread flood(FloodBadLines, port, 10);
    std::this_thread::sleep_for(500ms);
    longest = LongestSettingsAnswer(port, 30);
  });
  if (child.Exited()) return Fail("the program ended under a flood of bad lines," + status());
  std::printf("brenvo_e2e: 10 clients flooding bad lines: settings answered within %.1f ms at most, text %s\n",
              longest, grewUnderFlood ? "still growing" : "stalled");
  if (longest < 0 || longest > 500 || !grewUnderFlood) return Fail("a flood of bad lines held the program up");

  std::vector<int> strangers;
  const bool grewUnderSiege = textGrows([&] {
    for (auto end = std::chrono::steady_clock::now() + 20s; strangers.size() < 1100 && std::chrono::steady_clock::now() < end;) {
      const int fd = Connect(port);
      if (fd < 0) break;
      strangers.push_back(fd);
    }
    std::this_thread::sleep_for(4s);
  });
  std::size_t served = 0;
  for (int fd : strangers) {
    char c;
    served += ::recv(fd, &c, 1, MSG_DONTWAIT) == 1;
    ::close(fd);
  }
  if (child.Exited()) return Fail("the program ended under " + std::to_string(strangers.size()) + " connections," + status());
  std::printf("brenvo_e2e: %zu connections opened, %zu of them greeted, text %s\n", strangers.size(), served,
              grewUnderSiege ? "still growing" : "stalled");
  if (!grewUnderSiege || strangers.size() < 1100) return Fail("connections until no descriptor is left held the program up");

  // Save the last 60 s: the save button, its dialog answered with Return.
  const std::vector<int> icons = ToolBarIcons(window);
  if (icons.size() < 2) return Fail("no save and play-back buttons in the tool bar");
  const int saveX = rect.x() + icons[icons.size() - 2], playX = rect.x() + icons.back(), barY = rect.y() + 14;
  x.Click(saveX, barY);
  xcb_window_t dialog = XCB_NONE;
  if (!WaitFor([&] { return (dialog = x.Find("Save Audio")) && x.Mapped(dialog); }, 20s))
    return Fail("no save dialog");
  std::this_thread::sleep_for(500ms);
  x.Focus(dialog);
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
  if (!WaitFor(findLog, 20s)) return Fail("no recording saved in " + wavDir.string());
  const fs::path wav = fs::path(htm).replace_extension(".wav");
  std::ifstream page(htm);
  const std::string pageText(std::istreambuf_iterator<char>(page), {});
  if (!fs::exists(wav) || pageText.find(kSelectedCall) == std::string::npos)
    return Fail("the recording " + wav.string() + " or its log without " + kSelectedCall);
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
        asked = asked || x.Find("Play Back Audio") != XCB_NONE;
        return asked || Occurrences(CorrectedText(client.Lines(), mark), kSelectedMessage) >= wanted;
      }, 60s) || asked)
    return Fail(asked ? std::string("Ctrl held, and the play-back asked for a file")
                      : "play-back text \"" + CorrectedText(client.Lines(), mark) + "\", wanted " +
                            std::to_string(wanted) + " messages");
  std::printf("brenvo_e2e: played back with Ctrl: \"%s\" (%zu messages live)\n",
              CorrectedText(client.Lines(), mark).c_str(), liveMessages);

  // The soundcard started again, then its source stalls (the FIFO stays
  // open, emptied, and nothing more comes): closing still ends the program
  // within a few seconds and frees the port.
  const std::size_t restarted = client.Lines().size();
  x.Click(rect.x() + icons.front(), barY);
  if (!WaitFor([&] { return OfType(client.Lines(), restarted, "mtRawChar").size() >= 20; }, 20s))
    return Fail("no text after the soundcard button started the soundcard again");
  feeder.request_stop();
  feeder.join();
  char drain[4096];
  while (::read(fd, drain, sizeof drain) > 0) {
  }
  std::this_thread::sleep_for(1s);
  const auto closed = std::chrono::steady_clock::now();
  x.Close(win);
  if (!WaitFor([&] { return child.Exited(); }, 5s))
    return Fail("the program did not end within 5 s of WM_DELETE_WINDOW while its capture device delivered nothing");
  if (!WIFEXITED(child.Status) || WEXITSTATUS(child.Status) != 0) return Fail("after close," + status());
  const int late = Connect(port);
  if (late >= 0) ::close(late);
  if (late >= 0) return Fail("the JSON port still takes connections after the program ended");
  std::printf("brenvo_e2e: capture stalled, closed: ended after %.0f ms, port free\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - closed).count());
  std::ifstream ini(product / "brenvo.ini");
  const std::string settings(std::istreambuf_iterator<char>(ini), {});
  if (settings.find("Port=" + std::to_string(port)) == std::string::npos)
    return Fail("the settings were not saved at close: " + settings);
  std::printf("brenvo_e2e: closed, exit status 0, settings saved\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--waterfall") {
    QImage img;
    if (!img.load(argv[2])) return Fail(std::string("cannot read ") + argv[2]);
    return CheckWaterfall(img.convertToFormat(QImage::Format_RGB32));
  }
  if (argc == 3 && std::string(argv[1]) == "--placement") return RunPlacement(argv[2]);
  if (argc != 3) {
    std::fprintf(stderr, "usage: brenvo_e2e BRENVO OUTDIR | --waterfall WINDOW.png | --placement BRENVO\n");
    return 2;
  }
  return RunProgram(argv[1], argv[2]);
}
