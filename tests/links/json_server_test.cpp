// The server against real sockets on a free port. Clients live in the test's
// thread: their waits run the event loop, so the server goes on serving.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <numeric>
#include <random>
#include <thread>

#include "callsigns/call_extractor.h"
#include "dsp/errors.h"
#include "links/json_server.h"
#include "links/version.h"

namespace brenvo {
namespace {

const std::string kBarrier = R"({"Command":"ping","Arguments":"barrier"})";
const std::string kBarrierReply = R"({"MessageType":"barrier"})";
const std::string kInvalid = R"({"MessageType":"mtErrorMessage","Text": "Invalid command"})";
const std::string kTooLong = R"({"MessageType":"mtErrorMessage","Text": "Line too long"})";

std::string Request(const std::string& args) {
  return R"({"Command":"cmdRequestMessageTypes","Arguments":)" + args + "}";
}
const std::string kSubscribeRaw = Request(R"(["mtRawChar","mtSettings"])") + "\n";

TCharInfo Char() {
  TCharInfo r;
  r.RawCh = r.CorrCh = 'A';
  r.RawFlags = r.CorrFlags = {cfVisible};
  return r;
}

class TTestClient {
 public:
  explicit TTestClient(const TJsonServer& Srv, bool WaitForGreeting = true) {
    S.connectToHost(QHostAddress::LocalHost, Srv.ListeningPort());
    if (WaitForGreeting) Greeting = Line();
  }
  void Send(const std::string& Text) { S.write(Text.data(), static_cast<qint64>(Text.size())); }
  // The next line without its CR LF (which every line must end in); "" when
  // none comes within 5 s.
  std::string Line() {
    if (!QTest::qWaitFor([this] { return S.canReadLine(); }, 5000)) return "";
    std::string l = S.readLine().toStdString();
    EXPECT_TRUE(l.size() >= 2 && l.compare(l.size() - 2, 2, "\r\n") == 0) << l;
    return l.substr(0, l.size() >= 2 ? l.size() - 2 : 0);
  }
  bool Closed() {
    return QTest::qWaitFor([this] { return S.state() == QAbstractSocket::UnconnectedState; }, 5000);
  }
  // The lines before the barrier's reply, their types abbreviated (the two
  // errors as E and L).
  std::string LinesToBarrier() {
    Send(kBarrier + "\n");
    std::string seen;
    for (std::string l = Line(); l != kBarrierReply; l = Line()) {
      if (l.empty()) return seen + " (no barrier)";
      if (l.find("mtErrorMessage") != std::string::npos) {
        EXPECT_TRUE(l == kInvalid || l == kTooLong) << l;
      }
      const std::string type = nlohmann::json::parse(l).value("MessageType", "?");
      seen += type == "mtSettings" ? "S" : l == kTooLong ? "L" : type == "mtErrorMessage" ? "E" : type.substr(2, 1);
    }
    return seen;
  }

  QTcpSocket S;
  std::string Greeting;
};

class JsonServerTest : public ::testing::Test {
 protected:
  JsonServerTest() {
    Srv.OnGetSettings = [this] { return Settings; };
    Srv.OnCommand = [](TUserCommand, const std::string& args, std::string& reply) {
      if (args == "barrier") reply = kBarrierReply;
    };
    Srv.SetPort(0);
    Srv.Start();
  }

  TServerSettings Settings;
  TJsonServer Srv;
};

TEST_F(JsonServerTest, GreetsByteForByte) {
  TTestClient c(Srv);
  EXPECT_EQ(c.Greeting, R"({"MessageType":"mtSystemInfo","Software":"BRENVO","Version":")" + GetFileVersionText() +
                          R"(","AvailableMessageTypes":["mtSystemInfo","mtSettings","mtErrorMessage","mtRawChar",)"
                          R"("mtCorrChar","mtCallStack","mtSMeter","mtUserClick"],)"
                          R"("AvailableCommands":["cmdRequestMessageTypes"]})");
  EXPECT_EQ(Srv.UserCount(), 1);
}

// Each row: the lines a fresh client sends, then what it receives up to a
// barrier, then (after "|") what it receives of a raw and a corrected
// character, which another client asked for, and the settings, posted next.
TEST_F(JsonServerTest, CommandEdgeCases) {
  TTestClient other(Srv);
  other.Send(Request(R"(["mtRawChar","mtCorrChar"])") + "\n");
  EXPECT_EQ(other.LinesToBarrier(), "");
  const std::string raw = Request(R"(["mtRawChar"])");
  const auto settingsOfLength = [](std::size_t n) {
    const std::string r = Request(R"(["mtSettings"])");
    return r + std::string(n - r.size(), ' ');
  };
  const struct {
    std::vector<std::string> Lines;
    std::string Want;
  } rows[] = {
      {{Request(R"(["mtRawChar","mtSettings"])")}, "S|RS"},
      {{raw + "\r"}, "|R"},
      // Subscribed in any case, but the settings reply only for the exact name.
      {{Request(R"(["MTRAWCHAR","MTSETTINGS","mtNothing",5,{}])")}, "|RS"},
      {{Request(R"(["mtSettingsX","mtRawChar"])")}, "|R"},
      {{Request(R"(["XmtSettings","mtRawChar"])")}, "|R"},
      {{Request(R"("[\"mtCorrChar\",\"mtSettings\"]")")}, "S|CS"},  // the array as a string
      {{raw, Request(R"(["mtCorrChar"])")}, "|C"},
      {{raw, Request("[]")}, "|"},
      {{R"({"Command":"cmdrequestmessagetypes","Arguments":["mtRawChar","mtSettings"]})"}, "|"},
      {{R"({"Command":"cmdOther","Arguments":["mtRawChar","mtSettings"]})"}, "|"},
      {{R"({"Arguments":["mtRawChar","mtSettings"]})"}, "|"},
      {{raw, "hello"}, "E|R"},
      {{raw, Request("5")}, "E|R"},
      {{R"({"Command":"cmdRequestMessageTypes"})", "[1,2]"}, "EE|"},
      {{"", "   ", "\t \r"}, "|"},
      {{Request(std::string(30000, '[') + std::string(30000, ']'))}, "E|"},  // too deep to print again
      {{}, "|"},                                                             // silent
      {{std::string(1 << 20, 'x'), Request(R"(["mtRawChar","mtSettings"])")}, "LS|RS"},  // cut at the cap
      {{settingsOfLength(64 * 1024)}, "S|S"},  // the longest line the README allows
      {{settingsOfLength(64 * 1024 + 1)}, "L|"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    TTestClient c(Srv);
    for (const std::string& l : rows[i].Lines) c.Send(l + "\n");
    const std::string got = c.LinesToBarrier() + "|";
    Srv.PostRawChar(Char());
    Srv.PostCorrChar(Char(), 0);
    Srv.PostSettings();
    EXPECT_EQ(got + c.LinesToBarrier(), rows[i].Want) << "row " << i;
  }
}

TEST_F(JsonServerTest, PostsEachBodyAsSpecified) {
  TTestClient c(Srv);
  c.Send(Request(R"(["mtRawChar","mtCorrChar","mtCallStack","mtSMeter","mtUserClick","mtSettings"])") + "\n");
  c.Line();

  TCharInfo ch;
  ch.RawCh = 0xA6, ch.CorrCh = 0x95, ch.ChType = ctCall, ch.BitProbs = {0.5f, 1, 0, 0.25f, 0.75f};
  ch.RawFlags = {cfVisible, cfNewLine}, ch.CorrFlags = {cfVisible, cfWeak, cfVisNewLine};
  TCallEstimate good, atLimit, error;
  good.Txt = "DL1ABC", good.Prob = 0.0100001f, good.Vald = vrWarning, good.CqDe = cdCQ, good.CallWords.resize(2);
  atLimit.Txt = "K1AB", atLimit.Prob = 0.01f, atLimit.Vald = vrWatch;
  error.Txt = "X1", error.Prob = 0.9f, error.Vald = vrError;
  Settings = {.Usb = true, .Afc = false, .AutoQsx = true, .ContestName = "A\"\xE9"};

  const struct {
    std::function<void()> Post;
    std::string Want;  // "" for nothing sent
  } rows[] = {
      {[&] { Srv.PostRawChar(ch); },
       R"({"MessageType":"mtRawChar","Ch":"\u00a6","BitProbs":[0.5,1.0,0.0,0.25,0.75],"NewLine":true,"Weak":false})"},
      {[&] { Srv.PostCorrChar(ch, 3); },
       R"({"MessageType":"mtCorrChar","Ch":"\u2022","BitProbs":[0.5,1.0,0.0,0.25,0.75],"NewLine":true,)"
       R"("Weak":true,"WordKind":"ctCall","DeleteCount":3})"},
      {[&] { Srv.PostCallStack({&atLimit, &good, &error}); },
       R"({"MessageType":"mtCallStack","Calls":[{"Call":"DL1ABC","Count":2,"Prob":0.01000010035932064,)"
       R"("CqDe":"CQ","Vald":"vrWarning"}]})"},
      {[&] { Srv.PostCallStack({&atLimit, &error}); }, ""},
      {[&] { Srv.PostCallStack({&atLimit, &error}, true); }, R"({"MessageType":"mtCallStack","Calls":[]})"},
      {[&] { Srv.PostSMeter(-2.5f); }, R"({"MessageType":"mtSMeter","ValueDb":-2})"},
      {[&] { Srv.PostSMeter(-3.5f); }, R"({"MessageType":"mtSMeter","ValueDb":-4})"},
      {[&] { Srv.PostSMeter(NAN); }, R"({"MessageType":"mtSMeter","ValueDb":0})"},  // no undefined cast
      {[&] { Srv.PostSMeter(1e20f); }, R"({"MessageType":"mtSMeter","ValueDb":2147483647})"},
      {[&] { Srv.PostUserClick(" \tDL1ABC\r ", {ssDouble, ssCtrl, ssShift}, 7, ctCall); },
       R"({"MessageType":"mtUserClick","Word":"DL1ABC","Kind":"ctCall","Shift":["ssShift","ssCtrl","ssDouble"],"Pos":7})"},
      {[&] { Srv.PostSettings(); },
       R"({"MessageType":"mtSettings","Sideband":"USB","AFC":"false","AutoQSX":"true","Contest":"A\"\u00e9"})"},
  };
  for (const auto& row : rows) row.Post();
  for (const auto& row : rows) EXPECT_EQ(row.Want.empty() ? "" : c.Line(), row.Want);
  Settings = {};
  c.Send(Request(R"(["mtSettings"])") + "\n");  // nothing came in between
  EXPECT_EQ(c.Line(), R"({"MessageType":"mtSettings","Sideband":"LSB","AFC":"false","AutoQSX":"false","Contest":"DX"})");
}

TEST(ShiftState, FromQt) {
  const TShiftState s = ShiftStateOf(Qt::ShiftModifier | Qt::ControlModifier, Qt::LeftButton | Qt::MiddleButton, true);
  EXPECT_EQ(s.Bits, TShiftState({ssShift, ssCtrl, ssLeft, ssMiddle, ssDouble}).Bits);
  EXPECT_EQ(ShiftStateOf(Qt::AltModifier, Qt::RightButton, false).Bits, TShiftState({ssAlt, ssRight}).Bits);
}

TEST_F(JsonServerTest, RetriesABusyPortUntilItIsFree) {
  QTcpServer blocker;
  ASSERT_TRUE(blocker.listen(QHostAddress::AnyIPv4, 0));
  Srv.SetRetryInterval(50);
  Srv.SetPort(blocker.serverPort());
  EXPECT_FALSE(Srv.Listening());
  QTest::qWait(200);  // still retrying
  EXPECT_FALSE(Srv.Listening());
  blocker.close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Srv.Listening(); }, 5000));
  TTestClient c(Srv);
  EXPECT_EQ(Srv.UserCount(), 1);
}

TEST_F(JsonServerTest, PortOutOfRangeStopsAndKeepsTheOldPort) {
  for (int32_t bad : {-1, 65536}) {
    Srv.Start();
    EXPECT_THROW(Srv.SetPort(bad), ERangeError);
    EXPECT_EQ(Srv.Port(), 0);
    EXPECT_FALSE(Srv.Listening());
  }
}

// A blocking socket of our own, subscribed; one that never reads gets a small
// receive buffer.
int ConnectStuck(uint16_t port, bool smallBuffer = true) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  if (smallBuffer) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in a{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(::send(fd, kSubscribeRaw.data(), kSubscribeRaw.size(), 0), static_cast<ssize_t>(kSubscribeRaw.size()));
  return fd;
}

TEST_F(JsonServerTest, AClientThatNeverReadsIsDroppedTheOtherGetsEveryLine) {
  TTestClient good(Srv);
  good.Send(kSubscribeRaw);
  good.Line();
  const int stuck = ConnectStuck(Srv.ListeningPort());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Srv.UserCount() == 2; }, 5000));
  TCharInfo ch = Char();
  constexpr int kPosts = 100'000;  // about 10 MB of lines
  for (int i = 0; i < kPosts; ++i) {
    ch.BitProbs.Set(0, static_cast<float>(i));
    Srv.PostRawChar(ch);
    // The decoder returns to the event loop after each audio block.
    if (i % 100 == 99) QCoreApplication::processEvents();
  }
  int inOrder = 0;
  for (int i = 0; i < kPosts; ++i)
    inOrder += good.Line().find("\"BitProbs\":[" + std::to_string(i) + ".0,") != std::string::npos;
  EXPECT_EQ(inOrder, kPosts);
  EXPECT_EQ(Srv.UserCount(), 1);  // the stuck client is gone
  ::close(stuck);
}

// The server's end of our connection `fd`: the socket of this process whose
// peer is `fd`; -1 when there is none.
int ServerEnd(int fd) {
  sockaddr_in mine{}, peer{};
  socklen_t length = sizeof mine;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &length) != 0) return -1;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int other = std::stoi(e.path().filename().string());
    length = sizeof peer;
    if (other != fd && ::getpeername(other, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        peer.sin_family == AF_INET && peer.sin_port == mine.sin_port)
      return other;
  }
  return -1;
}

// Up to 1 MiB of lines may wait for a client that does not read; one more
// line past that drops it.
TEST_F(JsonServerTest, AClientThatStopsReadingIsDroppedPastOneMebibyte) {
  const int stuck = ConnectStuck(Srv.ListeningPort());
  char buf[4096];
  auto waitingLines = [&] {
    const ssize_t n = ::recv(stuck, buf, sizeof buf, MSG_PEEK | MSG_DONTWAIT);
    return n > 0 ? std::count(buf, buf + n, '\n') : 0;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return waitingLines() == 2; }, 5000));  // greeting and settings reply
  while (::recv(stuck, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  // The kernel would take megabytes more on its own; keep its share small.
  const int serverEnd = ServerEnd(stuck), small = 4096;
  ASSERT_EQ(::setsockopt(serverEnd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  const auto post = [&](int64_t bytes) {
    for (int64_t sent = 0; sent < bytes; sent += 100) Srv.PostRawChar(Char());  // lines of about 100 bytes
  };
  post((1 << 20) - 64 * 1024);  // the cap the README promises
  EXPECT_EQ(Srv.UserCount(), 1);
  post(128 * 1024);
  EXPECT_EQ(Srv.UserCount(), 0);
  ::close(stuck);
}

// A recording played back posts for a long time without the event loop; a
// client that reads all the while keeps every line.
TEST_F(JsonServerTest, ALongBurstWithoutTheEventLoopKeepsAReadingClient) {
  const int fd = ConnectStuck(Srv.ListeningPort(), false);
  std::atomic<int64_t> lines{0};
  std::thread reader([&] {
    char buf[1 << 16];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) lines += std::count(buf, buf + n, '\n');
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return lines == 2; }, 5000));  // greeting and settings reply
  constexpr int kPosts = 40'000;  // about 4 MB
  for (int i = 0; i < kPosts; ++i) Srv.PostRawChar(Char());
  EXPECT_EQ(Srv.UserCount(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return lines == 2 + kPosts; }, 10000)) << lines;
  ::shutdown(fd, SHUT_RDWR);
  reader.join();
  ::close(fd);
}

TEST_F(JsonServerTest, ClientsComingAndGoingWhilePostingThenStop) {
  std::mt19937 rng(11);
  std::vector<std::unique_ptr<TTestClient>> clients;
  for (int step = 0; step < 3000; ++step) {
    const auto pick = [&] { return std::uniform_int_distribution<std::size_t>(0, clients.size() - 1)(rng); };
    const unsigned action = rng() % 5;
    if (action == 0 && clients.size() < 50) clients.push_back(std::make_unique<TTestClient>(Srv, false));
    if (clients.empty()) continue;
    if (action == 1) clients[pick()]->Send(rng() % 2 ? kSubscribeRaw : "[\n");
    if (action == 2) clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(pick()));
    if (action == 3) clients[pick()]->S.readAll();
    if (action == 4) {
      Srv.PostRawChar(Char());
      Srv.PostSettings();
    }
    QCoreApplication::processEvents();
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return Srv.UserCount() == static_cast<int>(clients.size()); }, 5000));
  Srv.Stop();
  EXPECT_EQ(Srv.UserCount(), 0);
  for (auto& c : clients) EXPECT_TRUE(c->Closed());
}

// The first line (the greeting) of a socket of ours, or "" when the server
// closed it without one.
std::string FirstLine(int fd) {
  std::string line;
  char c;
  while (line.find('\n') == std::string::npos && ::recv(fd, &c, 1, 0) == 1) line += c;
  return line;
}

int Connected(uint16_t port, int fd = ::socket(AF_INET, SOCK_STREAM, 0)) {
  const timeval limit{.tv_sec = 10, .tv_usec = 0};  // a wait that fails the test, never hangs it
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in a{.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return fd;
}

// How many of the sockets get a greeting (the others are closed without
// one); the event loop runs meanwhile.
int Greeted(const std::vector<int>& fds) {
  std::atomic<int> greeted{0}, done{0};
  std::thread reader([&] {
    for (int fd : fds) {
      greeted += !FirstLine(fd).empty();
      ++done;
    }
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done == static_cast<int>(fds.size()); }, 60000));
  reader.join();
  return greeted;
}

// Reads `fd` (running the event loop) until `lines` lines have come; false
// when they do not within 5 s.
bool ReadLines(int fd, int lines) {
  return QTest::qWaitFor([&] {
    char c;
    while (lines > 0 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 1) lines -= c == '\n';
    return lines == 0;
  }, 5000);
}

// True when the server closes our socket `fd` within 5 s; what it sent
// before is read and dropped.
bool ClosedByServer(int fd) {
  char buf[4096];
  pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
  while (::poll(&p, 1, 5000) == 1)
    if (::recv(fd, buf, sizeof buf, 0) <= 0) return true;
  return false;
}

// 64 clients that have all sent a command keep their places: one more is
// closed at once.
TEST_F(JsonServerTest, ClientsBeyondTheLimitAreClosedAtOnce) {
  std::vector<int> fds;
  int greeted = 0;
  for (int i = 0; i < 64; ++i) {
    fds.push_back(ConnectStuck(Srv.ListeningPort(), false));
    greeted += ReadLines(fds.back(), 2);  // greeting, settings reply
  }
  fds.push_back(Connected(Srv.ListeningPort()));
  EXPECT_EQ(greeted + Greeted({fds.back()}), 64);
  EXPECT_EQ(Srv.UserCount(), 64);
  // One leaves: the next one is served.
  ::close(fds.front());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Srv.UserCount() == 63; }, 5000));
  TTestClient late(Srv);
  EXPECT_FALSE(late.Greeting.empty());
  for (std::size_t i = 1; i < fds.size(); ++i) ::close(fds[i]);
}

// With every place taken, loggers that connect are greeted and answered at
// once, each in the place of the stranger connected longest without a
// command; the subscribed client keeps its place, and once every client has
// sent a command a further connection is closed.
TEST_F(JsonServerTest, LoggersTakeThePlacesOfStrangersOldestFirst) {
  const struct {
    const char* Name;
    std::string Trickled;  // to each stranger, a byte per round
  } rows[] = {
      {"idle", ""},
      {"slow", Request(R"(["mtRawChar"])")},  // a whole command whose LF never comes
      {"no command", "hello\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Srv.UserCount() == 0; }, 5000));
    TTestClient subscribed(Srv);
    subscribed.Send(kSubscribeRaw);
    ASSERT_EQ(subscribed.LinesToBarrier(), "S");
    std::vector<int> strangers;
    for (int i = 1; i < 64; ++i) {
      strangers.push_back(Connected(Srv.ListeningPort()));
      QCoreApplication::processEvents();
    }
    for (const char b : row.Trickled) {
      for (int fd : strangers) ::send(fd, &b, 1, MSG_NOSIGNAL);
      QCoreApplication::processEvents();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return Srv.UserCount() == 64; }, 5000));
    std::vector<int> loggers;
    for (int stranger : strangers) {
      loggers.push_back(ConnectStuck(Srv.ListeningPort(), false));
      ASSERT_TRUE(ReadLines(loggers.back(), 2));  // greeting, settings reply
      ASSERT_TRUE(ClosedByServer(stranger));
      ::close(stranger);
    }
    const int late = Connected(Srv.ListeningPort());
    EXPECT_EQ(Greeted({late}), 0);
    Srv.PostRawChar(Char());
    EXPECT_EQ(subscribed.LinesToBarrier(), "R");
    EXPECT_EQ(Srv.UserCount(), 64);
    for (int fd : loggers) ::close(fd);
    ::close(late);
  }
}

// Out of descriptors, accepting rests instead of failing round after round,
// and takes the waiting clients once descriptors are free again: when the
// pause ends, or at once when a client leaves.
TEST_F(JsonServerTest, AcceptingRestsWhileNoDescriptorIsLeft) {
  for (const bool leaves : {false, true}) {
    SCOPED_TRACE(leaves);
    // Longer than the clients below wait for their greeting: only the
    // leaving can end it in time.
    Srv.SetAcceptPauseInterval(leaves ? 60000 : 100);
    const int leaving = leaves ? Connected(Srv.ListeningPort()) : -1;
    ASSERT_EQ(leaves ? Greeted({leaving}) : 0, int{leaves});
    std::vector<int> clients(5);
    for (int& fd : clients) fd = ::socket(AF_INET, SOCK_STREAM, 0);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    int highest = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
      highest = std::max(highest, std::stoi(e.path().filename().string()));
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(highest) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;  // the gaps below the limit
    for (int fd; (fd = ::dup(0)) >= 0;) fillers.push_back(fd);
    for (int fd : clients) Connected(Srv.ListeningPort(), fd);
    const bool paused = QTest::qWaitFor([&] { return Srv.AcceptPaused(); }, 5000);
    const int servedMeanwhile = Srv.UserCount();
    for (int fd : fillers) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    if (leaves) ::close(leaving);
    EXPECT_TRUE(paused);
    EXPECT_EQ(servedMeanwhile, int{leaves});
    EXPECT_EQ(Greeted(clients), static_cast<int>(clients.size()));
    for (int fd : clients) ::close(fd);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Srv.UserCount() == 0; }, 5000));
  }
}

// Lines that come to `fd` until none has for 50 ms (read and dropped).
int LinesComing(int fd) {
  char buf[4096];
  int lines = 0;
  pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
  for (ssize_t n; ::poll(&p, 1, 50) == 1 && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
    lines += static_cast<int>(std::count(buf, buf + n, '\n'));
  return lines;
}

// During a play-back the event loop does not run: each call of
// ServeWithoutEventLoop answers a slice of at most 64 lines, and what is left
// in the client's input or in its socket gets the next calls.
TEST_F(JsonServerTest, WithoutTheEventLoopEachCallAnswersASlice) {
  const auto lines = [](int n, std::size_t length) {
    std::string r;
    for (int i = 0; i < n; ++i) r += std::string(length, 'x') + "\n";
    return r;
  };
  const struct {
    std::string Sent;
    std::vector<int> PerCall;  // replies per call; empty: not checked
  } rows[] = {
      {lines(200, 1), {64, 64, 64, 8}},
      // Two slices of short lines, then long ones: their last bytes still
      // wait in the socket when the input held is used up.
      {lines(130, 1) + lines(30, 999), {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Sent.size());
    const int fd = Connected(Srv.ListeningPort());
    ASSERT_EQ(::send(fd, row.Sent.data(), row.Sent.size(), 0), static_cast<ssize_t>(row.Sent.size()));
    const int sent = static_cast<int>(std::count(row.Sent.begin(), row.Sent.end(), '\n'));
    std::vector<int> perCall;
    for (int replies = -1; replies < sent && perCall.size() < 40;) {  // -1: the greeting
      Srv.ServeWithoutEventLoop();
      perCall.push_back(LinesComing(fd) - (replies < 0));
      replies += perCall.back() + (replies < 0);
    }
    EXPECT_EQ(std::accumulate(perCall.begin(), perCall.end(), 0), sent);
    EXPECT_EQ(row.PerCall.empty() ? row.PerCall : perCall, row.PerCall);
    ::close(fd);
  }
}

// A client that floods the port gets a slice of the window's thread per
// turn: another client's request is answered long before the flood is.
TEST_F(JsonServerTest, AFloodingClientDoesNotHoldUpAnother) {
  constexpr int kLines = 10'000;
  const int flooder = Connected(Srv.ListeningPort());
  std::atomic<int64_t> replies{0};
  std::thread reader([&] {
    char buf[1 << 16];
    for (ssize_t n; replies < kLines + 1 && (n = ::recv(flooder, buf, sizeof buf, 0)) > 0;)
      replies += std::count(buf, buf + n, '\n');
  });
  std::thread writer([&] {
    std::string bad;
    for (int i = 0; i < kLines; ++i) bad += "x\n";
    for (std::size_t at = 0; at < bad.size();) {
      const ssize_t n = ::send(flooder, bad.data() + at, bad.size() - at, MSG_NOSIGNAL);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return replies > 1; }, 5000));
  TTestClient polite(Srv);
  EXPECT_EQ(polite.LinesToBarrier(), "");
  EXPECT_LT(replies, kLines / 2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return replies == kLines + 1; }, 60000)) << replies;
  writer.join();
  ::shutdown(flooder, SHUT_RDWR);
  reader.join();
  ::close(flooder);
}

TEST(JsonServer, DestroyedWithClientsConnected) {
  auto srv = std::make_unique<TJsonServer>();
  srv->SetPort(0);
  srv->Start();
  TTestClient a(*srv);
  srv.reset();  // the sanitizer build shows the connection freed
  EXPECT_TRUE(a.Closed());
}

}  // namespace
}  // namespace brenvo
