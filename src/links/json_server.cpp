#include "links/json_server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "callsigns/call_extractor.h"
#include "dsp/errors.h"
#include "files/data_file.h"
#include "links/version.h"
#include "receiver/calls_list.h"
#include "receiver/message_text_model.h"

namespace brenvo {

// One client: its socket and its session. Deleted later, never inside a
// loop over the connections or a signal of its own socket.
class TJsonConnection : public QObject {
 public:
  TJsonConnection(TJsonServer* Server, QTcpSocket* S) : QObject(Server), Socket(S) { S->setParent(this); }

  QTcpSocket* Socket;
  TJsonSession Session;
  std::string Input;  // taken from the socket, not handled yet
  bool LoggedIn = true;  // until closed
  bool Counted = false;  // greeted, so in UserCount
  bool Backlog = false;  // input waits for the next turn
};

namespace {

using ojson = nlohmann::ordered_json;

std::string Dump(const ojson& j) { return j.dump(-1, ' ', true, ojson::error_handler_t::replace); }

// The members the raw and the corrected character lines share.
ojson CharJson(uint8_t ch, const TBitProbArray& probs, bool newLine, bool weak) {
  ojson a = ojson::array();
  for (int i = 0; i < TBitProbArray::kCount; ++i) a.push_back(static_cast<double>(probs[i]));
  ojson j;
  j["Ch"] = std::string(Cp1252CharToUtf8(ch));
  j["BitProbs"] = std::move(a);
  j["NewLine"] = newLine;
  j["Weak"] = weak;
  return j;
}

std::string_view ValdResultName(TValdResult v) {
  static constexpr std::string_view kNames[] = {"vrUnknown", "vrError", "vrWarning", "vrGood",
                                                "vrPerfect", "vrDta",   "vrWatch"};
  return v < std::size(kNames) ? kNames[v] : std::string_view();
}

const char* FlagText(bool b) { return b ? "true" : "false"; }

// "{"MessageType":"<type>",<members of Body>}"; a Body that is no object
// goes in as it stands.
std::string MessageLine(TMessageType t, std::string_view body) {
  if (!body.empty() && body.front() == '{') body = body.substr(1, body.size() >= 2 ? body.size() - 2 : 0);
  std::string line = R"({"MessageType":")";
  line.append(MessageTypeName(t)).append("\",").append(body).append("}");
  return line;
}

std::string GreetingLine() {
  std::string types;
  for (int t = 0; t < kMessageTypeCount; ++t)
    types.append(types.empty() ? "" : ",").append(JsonQuoted(MessageTypeName(static_cast<TMessageType>(t))));
  return R"({"MessageType":"mtSystemInfo","Software":)" + JsonQuoted(TJsonServer::kSoftware) +
         R"(,"Version":)" + JsonQuoted(GetFileVersionText()) + R"(,"AvailableMessageTypes":[)" + types +
         R"(],"AvailableCommands":["cmdRequestMessageTypes"]})" + "\r\n";
}

// What the operator should know, said once a run: an attack must not fill the
// log.
void LogOnce(bool& logged, const char* text) {
  if (!logged) std::fprintf(stderr, "brenvo: %s\n", text);
  logged = true;
}

int32_t RoundedDb(float db) {
  if (std::isnan(db)) return 0;
  const double r = std::nearbyint(static_cast<double>(db));
  return static_cast<int32_t>(std::clamp(r, double{std::numeric_limits<int32_t>::min()},
                                         double{std::numeric_limits<int32_t>::max()}));
}

}  // namespace

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, bool doubleClick) {
  TShiftState s;
  if (modifiers & Qt::ShiftModifier) s.Include(ssShift);
  if (modifiers & Qt::AltModifier) s.Include(ssAlt);
  if (modifiers & Qt::ControlModifier) s.Include(ssCtrl);
  if (buttons & Qt::LeftButton) s.Include(ssLeft);
  if (buttons & Qt::RightButton) s.Include(ssRight);
  if (buttons & Qt::MiddleButton) s.Include(ssMiddle);
  if (doubleClick) s.Include(ssDouble);
  return s;
}

TJsonServer::TJsonServer(QObject* parent) : QObject(parent), FTcp(new QTcpServer(this)), FGreeting(GreetingLine()) {
  FTimer.setSingleShot(true);
  FTimer.setInterval(kRetryIntervalMs);
  connect(&FTimer, &QTimer::timeout, this, &TJsonServer::Start);
  connect(FTcp, &QTcpServer::newConnection, this, &TJsonServer::ServerConnect);
  connect(FTcp, &QTcpServer::acceptError, this, &TJsonServer::AcceptFailed);
  FAcceptPause.setSingleShot(true);
  FAcceptPause.setInterval(kAcceptPauseMs);
  connect(&FAcceptPause, &QTimer::timeout, this, &TJsonServer::ResumeAccepting);
  FBacklog.setSingleShot(true);
  FBacklog.setInterval(0);
  connect(&FBacklog, &QTimer::timeout, this, &TJsonServer::WorkOffBacklog);
}

TJsonServer::~TJsonServer() { Stop(); }

void TJsonServer::Start() {
  if (FTcp->isListening()) return;
  FUserCount = 0;
  if (!FTcp->listen(QHostAddress::AnyIPv4, static_cast<quint16>(FPort))) FTimer.start();
}

void TJsonServer::Stop() {
  FTimer.stop();
  FAcceptPause.stop();
  FTcp->close();
  const std::vector<TJsonConnection*> conns = FConnections;
  for (TJsonConnection* c : conns) Close(c);
  FUserCount = 0;
}

void TJsonServer::SetPort(int32_t value) {
  if (value == FPort) return;
  const bool wasListening = FTcp->isListening();
  Stop();
  if (value < 0 || value > 65535) throw ERangeError();
  FPort = value;
  if (wasListening) Start();
}

bool TJsonServer::Listening() const { return FTcp->isListening(); }

uint16_t TJsonServer::ListeningPort() const { return FTcp->isListening() ? FTcp->serverPort() : 0; }

void TJsonServer::ServerConnect() {
  while (QTcpSocket* socket = FTcp->nextPendingConnection()) {
    if (static_cast<int>(FConnections.size()) >= kMaxClients && !MakeRoom()) {
      static bool logged = false;
      LogOnce(logged, "the JSON port has as many clients as it serves, all in use; further connections are closed");
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // The socket keeps no more than a slice: the rest waits in the kernel,
    // which slows a flooding client down instead of growing our memory.
    socket->setReadBufferSize(kSliceBytes);
    // The lines of one event-loop round leave in one write; no need to
    // hold them back for more.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto* c = new TJsonConnection(this, socket);
    c->Session.OnSettingsReply = [this] { return MessageLine(mtSettings, SettingsJson()); };
    c->Session.OnCommand = [this](TUserCommand cmd, const std::string& args, std::string& reply) {
      if (OnCommand) OnCommand(cmd, args, reply);
    };
    FConnections.push_back(c);
    connect(socket, &QTcpSocket::readyRead, c, [this, c] { Receive(c); });
    connect(socket, &QTcpSocket::disconnected, c, [this, c] { Close(c); });
    connect(socket, &QTcpSocket::errorOccurred, c, [this, c] {
      if (c->Socket->state() != QAbstractSocket::ConnectedState) Close(c);
    });
    if (Send(c, FGreeting)) {
      c->Counted = true;
      ++FUserCount;
    }
  }
}

bool TJsonServer::MakeRoom() {
  const auto idle = std::find_if(FConnections.begin(), FConnections.end(),
                                 [](const TJsonConnection* c) { return !c->Session.SentCommand(); });
  if (idle == FConnections.end()) return false;
  static bool logged = false;
  LogOnce(logged, "the JSON port is full; a client that has sent no command gives its place to a new one");
  Close(*idle);
  return true;
}

void TJsonServer::AcceptFailed() {
  // Typically no descriptor left: trying again at once would fail at once,
  // round after round. A client leaving or the timer resumes.
  static bool logged = false;
  LogOnce(logged, "the JSON port cannot take a connection (no file descriptor left?); it tries again later");
  FTcp->pauseAccepting();
  FAcceptPause.start();
}

void TJsonServer::ResumeAccepting() {
  FAcceptPause.stop();
  if (FTcp->isListening()) FTcp->resumeAccepting();
}

void TJsonServer::Receive(TJsonConnection* c) {
  c->Backlog = false;
  const auto room = static_cast<qint64>(kSliceBytes - c->Input.size());
  if (room > 0) c->Input += c->Socket->read(room).toStdString();
  std::string out;
  c->Input.erase(0, c->Session.Receive(c->Input, out, kSliceLines));
  if (!out.empty()) Send(c, out);
  if (c->LoggedIn && (!c->Input.empty() || c->Socket->bytesAvailable() > 0)) {
    c->Backlog = true;
    FBacklog.start();
  }
}

void TJsonServer::WorkOffBacklog() {
  const std::vector<TJsonConnection*> conns = FConnections;
  for (TJsonConnection* c : conns)
    if (c->LoggedIn && c->Backlog) Receive(c);
}

void TJsonServer::ServeWithoutEventLoop() {
  if (FTcp->isListening() && !AcceptPaused()) FTcp->waitForNewConnection(0);
  WorkOffBacklog();
  const std::vector<TJsonConnection*> conns = FConnections;
  for (TJsonConnection* c : conns) {
    // New input arrives through readyRead, one slice.
    if (c->LoggedIn) c->Socket->waitForReadyRead(0);
    if (c->LoggedIn) c->Socket->flush();
  }
}

bool TJsonServer::Send(TJsonConnection* c, std::string_view bytes) {
  if (!c->LoggedIn) return false;
  const auto size = static_cast<qint64>(bytes.size());
  // Lines wait in the socket until the event loop runs; a long stretch
  // without it (a recording played back) must not drop a client that reads,
  // so hand the kernel what it takes now before judging the client.
  if (c->Socket->bytesToWrite() + size > kMaxUnsentBytes) {
    c->Socket->flush();
    if (!c->LoggedIn) return false;  // the flush found the peer gone
  }
  if (c->Socket->bytesToWrite() + size > kMaxUnsentBytes) {
    Close(c);
    return false;
  }
  return c->Socket->write(bytes.data(), size) == size;
}

void TJsonServer::Close(TJsonConnection* c) {
  if (!c->LoggedIn) return;
  c->LoggedIn = false;
  QObject::disconnect(c->Socket, nullptr, c, nullptr);
  c->Socket->abort();
  FConnections.erase(std::find(FConnections.begin(), FConnections.end(), c));
  if (c->Counted) --FUserCount;
  c->deleteLater();
  // Its descriptor is free again.
  if (AcceptPaused()) ResumeAccepting();
}

bool TJsonServer::AnyWants(TMessageType t) const {
  return std::any_of(FConnections.begin(), FConnections.end(),
                     [t](const TJsonConnection* c) { return c->Session.RequestedMsgTypes().Has(t); });
}

void TJsonServer::BroadcastMessage(TMessageType t, std::string_view body) {
  if (!AnyWants(t)) return;
  const std::string line = MessageLine(t, body) + "\r\n";
  // A copy: a client dropped on the way leaves the list at once.
  const std::vector<TJsonConnection*> conns = FConnections;
  for (TJsonConnection* c : conns)
    if (c->LoggedIn && c->Session.RequestedMsgTypes().Has(t)) Send(c, line);
}

void TJsonServer::PostRawChar(const TCharInfo& info) {
  if (!AnyWants(mtRawChar)) return;
  const TCharFlags f = info.RawFlags;
  BroadcastMessage(mtRawChar, Dump(CharJson(info.RawCh, info.BitProbs, f.Has(cfNewLine), f.Has(cfWeak))));
}

void TJsonServer::PostCorrChar(const TCharInfo& info, int32_t deleteCount) {
  if (!AnyWants(mtCorrChar)) return;
  const TCharFlags f = info.CorrFlags;
  ojson j = CharJson(info.CorrCh, info.BitProbs, f.Has(cfVisNewLine), f.Has(cfWeak));
  j["WordKind"] = StateTypeName(info.ChType);
  j["DeleteCount"] = deleteCount;
  BroadcastMessage(mtCorrChar, Dump(j));
}

void TJsonServer::PostCallStack(const TCallExtractor& cx, bool emptyToo) {
  std::vector<const TCallEstimate*> calls;
  for (int i = 0; i < cx.CallCount(); ++i) calls.push_back(&cx.Calls(i));
  PostCallStack(calls, emptyToo);
}

void TJsonServer::PostCallStack(const std::vector<const TCallEstimate*>& calls, bool emptyToo) {
  if (!AnyWants(mtCallStack)) return;
  ojson list = ojson::array();
  for (const TCallEstimate* e : calls) {
    if (!CallLineShown(*e)) continue;
    ojson c;
    c["Call"] = Cp1252ToUtf8(e->Txt);
    c["Count"] = static_cast<int32_t>(e->CallWords.size());
    c["Prob"] = static_cast<double>(e->Prob);
    c["CqDe"] = CqDeName(e->CqDe);
    c["Vald"] = ValdResultName(e->Vald);
    list.push_back(std::move(c));
  }
  if (list.empty() && !emptyToo) return;
  BroadcastMessage(mtCallStack, "\"Calls\":" + Dump(list));
}

void TJsonServer::PostSMeter(float db) {
  if (!AnyWants(mtSMeter)) return;
  ojson j;
  j["ValueDb"] = RoundedDb(db);
  BroadcastMessage(mtSMeter, Dump(j));
}

void TJsonServer::PostUserClick(std::string_view word, TShiftState shift, int32_t pos, TStateType kind) {
  if (!AnyWants(mtUserClick)) return;
  static constexpr const char* kShiftNames[] = {"ssShift", "ssAlt",    "ssCtrl",  "ssLeft",
                                                "ssRight", "ssMiddle", "ssDouble"};
  ojson names = ojson::array();
  for (int m = ssShift; m <= ssDouble; ++m)
    if (shift.Has(static_cast<TShiftStateMember>(m))) names.push_back(kShiftNames[m]);
  ojson j;
  j["Word"] = Cp1252ToUtf8(TrimBlanks(word));
  j["Kind"] = StateTypeName(kind);
  j["Shift"] = std::move(names);
  j["Pos"] = pos;
  BroadcastMessage(mtUserClick, Dump(j));
}

void TJsonServer::PostSettings() {
  if (AnyWants(mtSettings)) BroadcastMessage(mtSettings, SettingsJson());
}

// The four members, each a string, the flags included.
std::string TJsonServer::SettingsJson() const {
  const TServerSettings s = OnGetSettings ? OnGetSettings() : TServerSettings{};
  std::string body = R"("Sideband":")";
  body.append(s.Usb ? "USB" : "LSB").append(R"(","AFC":")").append(FlagText(s.Afc));
  body.append(R"(","AutoQSX":")").append(FlagText(s.AutoQsx)).append(R"(","Contest":)");
  return body.append(JsonQuoted(Cp1252ToUtf8(s.ContestName)));
}

}  // namespace brenvo
