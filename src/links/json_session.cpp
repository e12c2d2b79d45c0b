#include "links/json_session.h"

#include <nlohmann/json.hpp>

namespace brenvo {

namespace {

using nlohmann::json;

constexpr const char* kInvalidCommand = "Invalid command";
constexpr const char* kLineTooLong = "Line too long";
constexpr std::string_view kRequestCommand = "cmdRequestMessageTypes";
constexpr std::string_view kSettingsNameQuoted = "\"mtSettings\"";

// A client's JSON text; discarded when it is not JSON or nests deeper than
// kMaxJsonDepth. Nothing is thrown.
json ParseClientJson(std::string_view text) {
  bool tooDeep = false;
  json j = json::parse(
      text,
      [&tooDeep](int depth, json::parse_event_t event, json&) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
            depth >= TJsonSession::kMaxJsonDepth)
          tooDeep = true;
        return !tooDeep;
      },
      false);
  if (tooDeep) j = json(json::value_t::discarded);
  return j;
}

const std::string& InvalidCommandReply() {
  static const std::string reply = ErrorReply(kInvalidCommand);
  return reply;
}

// A member read as a string: a string's value, another value's JSON text,
// "" when missing or null.
std::string MemberText(const json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || it->is_null()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump();
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Blanks and control characters only (or nothing).
bool IsBlank(std::string_view line) {
  for (char c : line)
    if (static_cast<uint8_t>(c) > ' ') return false;
  return true;
}

}  // namespace

std::string_view MessageTypeName(TMessageType t) {
  static constexpr std::string_view kNames[kMessageTypeCount] = {
      "mtSystemInfo", "mtSettings", "mtErrorMessage", "mtRawChar",
      "mtCorrChar",   "mtCallStack", "mtSMeter",      "mtUserClick"};
  return t < kMessageTypeCount ? kNames[t] : std::string_view();
}

std::string JsonQuoted(std::string_view Utf8) {
  return json(std::string(Utf8)).dump(-1, ' ', true, json::error_handler_t::replace);
}

std::string ErrorReply(std::string_view Text) {
  // The blank after the last colon is what clients have always received.
  return R"({"MessageType":"mtErrorMessage","Text": )" + JsonQuoted(Text) + "}";
}

std::size_t TJsonSession::Receive(std::string_view bytes, std::string& out, std::size_t maxLines) {
  const std::size_t size = bytes.size();
  for (std::size_t lines = 0; !bytes.empty() && lines < maxLines; ++lines) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, lf);
    if (!FSkipping) {
      if (FLine.size() + piece.size() > kMaxLineLength) {
        FSkipping = true;
        FLine.clear();
        out += ErrorReply(kLineTooLong) + "\r\n";
      } else {
        FLine.append(piece);
      }
    }
    if (lf == std::string_view::npos) return size;
    bytes.remove_prefix(lf + 1);
    if (!FSkipping) HandleLine(FLine, out);
    FSkipping = false;
    FLine.clear();
  }
  return size - bytes.size();
}

void TJsonSession::HandleLine(std::string_view line, std::string& out) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (IsBlank(line)) return;
  const std::string reply = ProcessCommand(line);
  if (!reply.empty()) out += reply + "\r\n";
}

std::string TJsonSession::ProcessCommand(std::string_view line) {
  const json j = ParseClientJson(line);
  if (!j.is_object()) return InvalidCommandReply();
  const std::string command = MemberText(j, "Command");
  const std::string arguments = MemberText(j, "Arguments");
  if (command == kRequestCommand && !SetRequestedMessageTypes(arguments)) return InvalidCommandReply();
  FSentCommand = true;
  // The owner's callbacks report their own failures, and nothing they throw
  // reaches the event loop.
  try {
    if (command == kRequestCommand) {
      const bool wantsSettings = arguments.find(kSettingsNameQuoted) != std::string::npos;
      return wantsSettings && OnSettingsReply ? OnSettingsReply() : std::string();
    }
    std::string reply;
    if (OnCommand) OnCommand(cmdUnknown, arguments, reply);
    return reply;
  } catch (const std::exception& e) {
    return ErrorReply(e.what());
  } catch (...) {
    return InvalidCommandReply();
  }
}

bool TJsonSession::SetRequestedMessageTypes(std::string_view arguments) {
  const json list = ParseClientJson(arguments);
  if (!list.is_array()) return false;
  TMessageTypes types;
  for (const json& element : list) {
    const std::string name = element.is_string() ? element.get<std::string>() : element.dump();
    for (int t = 0; t < kMessageTypeCount; ++t)
      if (SameNoCase(name, MessageTypeName(static_cast<TMessageType>(t)))) types.Include(static_cast<TMessageType>(t));
  }
  FRequestedMsgTypes = types;
  return true;
}

}  // namespace brenvo
