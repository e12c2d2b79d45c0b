// The JSON server's cost on the window's thread with 1, 10 and 50 clients
// subscribed to raw and corrected characters (they drain in a thread of their
// own):
// - Post: one corrected-character post alone (building the line, queueing it
//   for every client); the sockets are written in rounds outside the timing.
// - CharEvent: what one decoded character costs as the road delivers it, a
//   raw and a corrected post, then the event-loop round that writes them to
//   every socket (at the decoder's pace each character has a round of its own).
// - SessionLines: what a client's line costs to answer, a bad one ("x") and
//   a settings request, per line.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "links/json_server.h"

namespace {

using namespace brenvo;

void EnsureApp() {
  static int argc = 1;
  static char name[] = "brenvo_bench";
  static char* argv[] = {name, nullptr};
  static auto* app = new QCoreApplication(argc, argv);  // lives to the end
  (void)app;
}

// N clients subscribed to corrected characters, read by one thread.
class TDrainedClients {
 public:
  TDrainedClients(uint16_t Port, int N) {
    const std::string subscribe = R"({"Command":"cmdRequestMessageTypes","Arguments":["mtRawChar","mtCorrChar","mtSettings"]})"
                                  "\n";
    for (int i = 0; i < N; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(Port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
          ::send(fd, subscribe.data(), subscribe.size(), 0) < 0)
        throw std::runtime_error("bench client cannot connect");
      FPoll.push_back({fd, POLLIN, 0});
    }
    FThread = std::thread([this] { Drain(); });
  }
  ~TDrainedClients() {
    FStop = true;
    FThread.join();
    for (const pollfd& p : FPoll) ::close(p.fd);
  }
  int64_t Lines() const { return FLines; }

 private:
  void Drain() {
    std::vector<char> buf(1 << 16);
    while (!FStop) {
      if (::poll(FPoll.data(), FPoll.size(), 50) <= 0) continue;
      for (const pollfd& p : FPoll) {
        if (!(p.revents & POLLIN)) continue;
        const ssize_t n = ::recv(p.fd, buf.data(), buf.size(), 0);
        if (n > 0) FLines += std::count(buf.begin(), buf.begin() + n, '\n');
      }
    }
  }

  std::vector<pollfd> FPoll;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<int64_t> FLines{0};
};

TCharInfo BenchChar() {
  TCharInfo ch;
  ch.RawCh = ch.CorrCh = 'E';
  ch.ChType = ctLetter;
  ch.RawFlags = ch.CorrFlags = {cfVisible};
  ch.BitProbs = {0.98f, 0.02f, 0.01f, 0.03f, 0.97f};
  return ch;
}

// Runs Body once per iteration against a listening server with N drained,
// subscribed clients.
template <typename F>
void WithClients(benchmark::State& state, F Body) {
  EnsureApp();
  const int n = static_cast<int>(state.range(0));
  TJsonServer srv;
  srv.SetPort(0);
  srv.Start();
  TDrainedClients clients(srv.ListeningPort(), n);
  // Greeted and subscribed: each has had its greeting and settings reply.
  while (clients.Lines() < 2 * n) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  for (auto _ : state) Body(srv, state);
  if (srv.UserCount() != n) state.SkipWithError("a client was dropped");
  state.counters["clients"] = n;
}

void BM_JsonServer_Post(benchmark::State& state) {
  const TCharInfo ch = BenchChar();
  int64_t posts = 0;
  WithClients(state, [&](TJsonServer& srv, benchmark::State& st) {
    srv.PostCorrChar(ch, 0);
    if (++posts % 64 == 0) {
      st.PauseTiming();
      QCoreApplication::processEvents();
      st.ResumeTiming();
    }
  });
}
BENCHMARK(BM_JsonServer_Post)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

void BM_JsonServer_CharEvent(benchmark::State& state) {
  const TCharInfo ch = BenchChar();
  WithClients(state, [&](TJsonServer& srv, benchmark::State&) {
    srv.PostRawChar(ch);
    srv.PostCorrChar(ch, 0);
    QCoreApplication::processEvents();
  });
}
BENCHMARK(BM_JsonServer_CharEvent)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

void BM_JsonSession_Lines(benchmark::State& state) {
  const std::string line = state.range(0) ? R"({"Command":"cmdRequestMessageTypes","Arguments":["mtSettings"]})" : "x";
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += line + "\n";
  TJsonSession session;
  session.OnSettingsReply = [] { return std::string(R"({"MessageType":"mtSettings"})"); };
  std::string out;
  for (auto _ : state) {
    out.clear();
    session.Receive(lines, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  state.SetLabel(state.range(0) ? "settings request" : "bad line");
}
BENCHMARK(BM_JsonSession_Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
