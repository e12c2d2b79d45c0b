// The JSON server's side of one client connection, without any socket: how
// the bytes a client sends become lines, how each line is read as a command,
// what the connection has subscribed to and which reply goes back. The server
// feeds it what the socket delivers and writes what it returns; a fuzz target
// feeds it arbitrary bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "dsp/byte_set.h"

namespace brenvo {

// The kinds of lines the server sends; the member names are the
// "MessageType" values on the wire, in this order.
enum TMessageType : uint8_t {
  mtSystemInfo,
  mtSettings,
  mtErrorMessage,
  mtRawChar,
  mtCorrChar,
  mtCallStack,
  mtSMeter,
  mtUserClick,
};
inline constexpr int kMessageTypeCount = 8;

// "mtSystemInfo" .. "mtUserClick"; "" for a value outside the enumeration.
std::string_view MessageTypeName(TMessageType t);

// A set of TMessageType in one byte, bit n = member n.
using TMessageTypes = TByteSet<TMessageType>;

enum TUserCommand : uint8_t { cmdUnknown, cmdRequestMessageTypes };

// A command other than the message-type request, with its "Arguments" text;
// a Reply left non-empty is sent back to the client as one line.
using TUserCommandEvent = std::function<void(TUserCommand Cmd, const std::string& Arguments, std::string& Reply)>;

// Utf8 as a JSON string in double quotes, every character above 127 and
// every control character escaped ("\u00e9"); invalid UTF-8 becomes U+FFFD.
std::string JsonQuoted(std::string_view Utf8);

// The error reply, Text escaped as a JSON string (without the line end).
std::string ErrorReply(std::string_view Text);

class TJsonSession {
 public:
  // Longest line a client may send (bytes before the LF, a CR included).
  // A longer one is answered with one error reply and skipped up to its LF,
  // so a client that never ends a line cannot grow our memory.
  static constexpr std::size_t kMaxLineLength = 64 * 1024;
  // Deepest nesting of arrays and objects read from a client; printing a
  // deeper value again would recurse that deep.
  static constexpr int kMaxJsonDepth = 64;

  // The settings reply line (without the line end), built when a request
  // asks for it. Unassigned: no settings reply.
  std::function<std::string()> OnSettingsReply;
  // Commands other than the request; unassigned: they get no reply.
  TUserCommandEvent OnCommand;

  // What the client has asked for; empty at connection.
  TMessageTypes RequestedMsgTypes() const { return FRequestedMsgTypes; }
  // True once a complete line was taken as a command: one not answered with
  // "Invalid command" (nor skipped as too long). A logging program has sent
  // one; a stranger that stays idle or never ends a line has not.
  bool SentCommand() const { return FSentCommand; }

  // Bytes as the client sent them, in any pieces. Every line ended by LF (a
  // CR before the LF dropped) is handled in order; the replies are appended
  // to Out, each ending in CR LF. The text after the last LF waits for more.
  // Stops after MaxLines lines: returns how many bytes were taken, the rest
  // is for the next call.
  std::size_t Receive(std::string_view Bytes, std::string& Out, std::size_t MaxLines = SIZE_MAX);

  // One line without its line end: the reply (without the line end), or ""
  // for none. A line that is not a JSON object, or a request whose
  // "Arguments" is not an array, gets the error reply "Invalid command".
  std::string ProcessCommand(std::string_view Line);

  // Replaces the subscription by the names in Arguments (a JSON array of
  // strings, matched without regard to case; unknown names ignored). False
  // when Arguments is no array; the subscription then stays. No exception:
  // bad lines are the common case under a flood, and a throw costs far more
  // than the line.
  bool SetRequestedMessageTypes(std::string_view Arguments);

 private:
  void HandleLine(std::string_view Line, std::string& Out);

  TMessageTypes FRequestedMsgTypes;
  std::string FLine;  // the incomplete line so far
  bool FSkipping = false;  // inside a line that was too long, until its LF
  bool FSentCommand = false;
};

}  // namespace brenvo
