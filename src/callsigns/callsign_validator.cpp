#include "callsigns/callsign_validator.h"

#include "callsigns/callsign_pattern_splitter.h"
#include "callsigns/data_file.h"
#include "callsigns/master_dta.h"
#include "decoder/data_folders.h"

namespace brenvo {

std::unique_ptr<TCallsignValidator> CallValidator;

namespace {

std::string WithSlash(std::string Folder) {
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
  return Folder;
}

}  // namespace

TCallsignValidator::TCallsignValidator() {
  Load(GetReferenceFolder(), GetUserDataFolder());
}

TCallsignValidator::TCallsignValidator(const std::string& ReferenceFolder,
                                       const std::string& UserDataFolder) {
  Load(WithSlash(ReferenceFolder), WithSlash(UserDataFolder));
}

void TCallsignValidator::Load(const std::string& ReferenceFolder,
                              const std::string& UserDataFolder) {
  // Later files override earlier ones for the same call: black beats watch
  // beats the database.
  Ch3.LoadFromFile(ReferenceFolder + kPatt3ChFileName);
  LoadMasterDta(ReferenceFolder + kMasterDtaFileName);
  LoadCallList(UserDataFolder + kWatchListFileName, vrWatch);
  LoadCallList(ReferenceFolder + kBlackListFileName, vrError);
}

void TCallsignValidator::Enter(std::string Key, TValdResult Result) {
  List.insert_or_assign(std::move(Key), Result);
}

void TCallsignValidator::LoadMasterDta(const std::string& FileName) {
  const std::string path =
      ResolveFileNoCase(FileName.empty() ? GetReferenceFolder() + "Master.dta" : FileName);
  std::string bytes;
  if (!ReadFileBytes(path, bytes) || bytes.size() <= kMasterDtaHeaderSize) return;
  const std::string_view data = std::string_view(bytes).substr(kMasterDtaHeaderSize);
  // About 7 bytes per call; reserving avoids rehashing a large database.
  List.reserve(List.size() + data.size() / 7);
  std::size_t p = 0;
  while (p < data.size()) {
    std::size_t end = data.find('\0', p);
    if (end == std::string_view::npos) end = data.size();
    const std::string_view call = TrimBlanks(data.substr(p, end - p));
    if (!call.empty()) {
      std::string key(call);
      UpperCaseAscii(key);
      Enter(std::move(key), vrDta);
    }
    p = end + 1;
  }
}

void TCallsignValidator::LoadCallList(const std::string& FileName, TValdResult Result) {
  AddCallList(TVuqStringList::CreateTryLoad(ResolveFileNoCase(FileName), true), Result);
}

void TCallsignValidator::AddCallList(const TVuqStringList& Lines, TValdResult Result) {
  for (int32_t i = 0; i < Lines.Count(); ++i) {
    const std::string_view line = TrimBlanks(Lines.Strings(i));
    std::string key(line.substr(0, line.find(' ')));
    if (key.size() < 3 || key.front() == '/') continue;
    UpperCaseAscii(key);
    Enter(std::move(key), Result);
  }
}

TValdResult TCallsignValidator::Validate(std::string_view Call) const {
  if (Call.size() < 3) return vrError;
  if (const auto it = List.find(Call); it != List.end()) return it->second;
  // One splitter per thread, reused, so that rating allocates nothing in
  // steady state and stays safe to call from any thread.
  thread_local TCallsignPatternSplitter splitter;
  if (!splitter.Split(Call)) return vrError;
  const std::string base = splitter.BaseCall();
  if (!IsItuPrefix(base)) return vrError;
  return Ch3.Validate(base);
}

}  // namespace brenvo
