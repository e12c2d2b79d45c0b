// libFuzzer target: any bytes as what a client of the JSON server sends.
// The session must answer only with whole lines, each a JSON object that
// begins with "MessageType", and never crash, hang or grow without bound.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "links/json_session.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Every reply line: a JSON object whose text begins with the message type.
void CheckReplies(std::string_view out) {
  while (!out.empty()) {
    const std::size_t end = out.find("\r\n");
    Check(end != std::string_view::npos);
    const std::string_view line = out.substr(0, end);
    Check(line.substr(0, 15) == R"({"MessageType":)");
    Check(nlohmann::json::parse(line, nullptr, false).is_object());
    Check(line.find('\n') == std::string_view::npos);
    out.remove_prefix(end + 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Byte 0: the size of the pieces the bytes arrive in; byte 1: how often
  // the rest repeats (long lines reach the line cap).
  const std::size_t piece = data[0] + 1u, repeats = data[1] % 32 + 1u;
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string stream;
  for (std::size_t i = 0; i < repeats; ++i) stream.append(rest);

  brenvo::TJsonSession session;
  session.OnSettingsReply = [] { return std::string(R"({"MessageType":"mtSettings","Contest":"DX"})"); };
  // The owner's answer may carry any bytes; the reply must stay one line.
  session.OnCommand = [](brenvo::TUserCommand, const std::string& args, std::string& reply) {
    reply = brenvo::ErrorReply(args);
  };
  std::string out;
  for (std::size_t at = 0; at < stream.size(); at += piece)
    session.Receive(std::string_view(stream).substr(at, piece), out);
  CheckReplies(out);

  const std::string reply = session.ProcessCommand(rest);
  if (!reply.empty()) CheckReplies(reply + "\r\n");
  return 0;
}
