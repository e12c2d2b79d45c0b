// The JSON line server through which logging programs follow the decoder:
// it listens on one TCP port (all IPv4 addresses), greets each client with
// one system-information line and then sends each client the kinds of lines
// it asked for: raw and corrected characters of the selected signal, its
// callsign list, the meter, the words the user clicks and the settings.
//
// Everything runs on the thread that owns the server (the window's), in its
// event loop: one object per connection, no threads. So lines to a client
// never interleave, and the greeting and the settings reply read the
// window's state directly. A client that stops reading is dropped once
// kMaxUnsentBytes wait for it, so no post ever blocks the decoder. A client's
// input is worked off in slices, one per event-loop turn, so no client can
// hold up the audio blocks waiting in the same loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/state_type.h"
#include "links/json_session.h"
#include "receiver/road_links.h"

class QTcpServer;

namespace brenvo {

class TCallEstimate;
class TCallExtractor;
class TJsonConnection;

// What the settings line reports, read from the window when it is sent.
struct TServerSettings {
  bool Usb = false;      // the channel list's sideband: "USB", else "LSB"
  bool Afc = false;      // the channel list's AFC
  bool AutoQsx = false;  // the window's Automatic QSX
  std::string ContestName = "DX";  // 8-bit (Windows-1252); "DX" = no contest

  bool operator==(const TServerSettings&) const = default;
};

// Keys and buttons of a click, as the user-click line names them.
enum TShiftStateMember : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };

using TShiftState = TByteSet<TShiftStateMember>;

// A mouse event's keys and buttons; DoubleClick adds ssDouble.
TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons, bool DoubleClick);

class TJsonServer : public QObject, public ICharPoster {
  Q_OBJECT

 public:
  static constexpr int32_t kDefaultPort = 7500;
  static constexpr int kRetryIntervalMs = 3000;
  // Output a client has not taken yet; more drops the client.
  static constexpr int64_t kMaxUnsentBytes = 1 << 20;
  // Clients served at once: plenty for any station, and strangers cannot use
  // up our descriptors. When all are taken, a new connection takes the place
  // of the client connected longest without a command (so idle or slow
  // strangers cannot lock a logging program out); when every client has
  // sent one, it is closed at once.
  static constexpr int kMaxClients = 64;
  // One client's input handled per event-loop turn: bytes taken from its
  // socket and lines answered.
  static constexpr int kSliceBytes = 16 * 1024;
  static constexpr int kSliceLines = 64;
  // While the process has no descriptor for a new connection, accepting
  // rests this long (or until a client leaves) instead of failing on and on.
  static constexpr int kAcceptPauseMs = 1000;
  static constexpr const char* kSoftware = "BRENVO";

  // Stopped, on port kDefaultPort.
  explicit TJsonServer(QObject* Parent = nullptr);
  // Stops: every client's socket is closed.
  ~TJsonServer() override;

  // The state the settings line reports; unassigned: TServerSettings{}.
  std::function<TServerSettings()> OnGetSettings;
  // Commands other than the message-type request; unassigned (as in this
  // program), they get no reply.
  TUserCommandEvent OnCommand;

  // Listens unless already listening. A port that cannot be opened is tried
  // again every RetryInterval() ms, silently, until it opens or Stop.
  void Start();
  // Stops listening and retrying, closes every connection; UserCount 0.
  void Stop();
  // 0..65535 (0: a free port the system picks, see ListeningPort).
  int32_t Port() const { return FPort; }
  // A new port restarts the server when it was listening. Outside
  // 0..65535: ERangeError, after stopping; the old port is kept.
  void SetPort(int32_t Value);
  bool Listening() const;
  // The port listened on; 0 while not listening.
  uint16_t ListeningPort() const;
  // Greeted clients still connected.
  int32_t UserCount() const { return FUserCount; }
  int RetryInterval() const { return FTimer.interval(); }
  void SetRetryInterval(int Ms) { FTimer.setInterval(Ms); }
  // True while accepting rests for want of descriptors.
  bool AcceptPaused() const { return FAcceptPause.isActive(); }
  void SetAcceptPauseInterval(int Ms) { FAcceptPause.setInterval(Ms); }

  // For a long task that keeps the event loop from running (a play-back):
  // greets waiting clients, answers a slice of each client's input and hands
  // the output to the kernel. Nothing else of the event loop runs.
  void ServeWithoutEventLoop();

  // Each posts one line to the clients that asked for its kind; nothing is
  // built when none did. Characters are 8-bit (Windows-1252).
  void PostRawChar(const TCharInfo& Info) override;
  void PostCorrChar(const TCharInfo& Info, int32_t DeleteCount) override;
  // The candidates that get a line in the callsign list (CallLineShown), in
  // order; nothing when none does, unless EmptyToo (the list was emptied or
  // built anew for another channel): then "Calls":[].
  void PostCallStack(const TCallExtractor& Cx, bool EmptyToo = false);
  void PostCallStack(const std::vector<const TCallEstimate*>& Calls, bool EmptyToo = false);
  // Db rounded half to even (clamped to 32 bits; a NaN as 0).
  void PostSMeter(float Db);
  // Word (8-bit) without leading and trailing blanks and control characters.
  void PostUserClick(std::string_view Word, TShiftState Shift, int32_t Pos, TStateType Kind);
  void PostSettings();

  // Body: a JSON object (its members follow "MessageType") or member text.
  void BroadcastMessage(TMessageType MsgType, std::string_view Body);

 private:
  bool AnyWants(TMessageType MsgType) const;
  void ServerConnect();
  // Drops the client connected longest without a command; false when every
  // client has sent one.
  bool MakeRoom();
  void AcceptFailed();
  void ResumeAccepting();
  // One slice of the client's input; what is left gets the next turn.
  void Receive(TJsonConnection* C);
  void WorkOffBacklog();
  // False when the bytes were not taken (the client may have been dropped).
  bool Send(TJsonConnection* C, std::string_view Bytes);
  void Close(TJsonConnection* C);
  std::string SettingsJson() const;

  QTcpServer* FTcp;
  QTimer FTimer;
  QTimer FAcceptPause;
  QTimer FBacklog;  // a turn for the clients whose input waits
  int32_t FPort = kDefaultPort;
  int32_t FUserCount = 0;
  std::string FGreeting;  // with its line end
  std::vector<TJsonConnection*> FConnections;  // children of this object, oldest first
};

}  // namespace brenvo
