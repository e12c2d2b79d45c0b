// Rates a callsign candidate read from decoded text: found in the callsign
// database, on the watch or black list, or else how plausible its structure
// is (split at "/", ITU prefix of the base call, three-character pattern).
//
// Data files, all optional, read once by the constructor and never written;
// names are matched without regard to case within their folder:
//   reference folder: "MASTER.DTA" (see master_dta.h), "Black.lst", "Patt3Ch.lst"
//   user-data folder: "Watch.lst"
// The call lists are text, one entry per line (CR LF, LF or CR; a UTF-8
// byte-order mark is dropped): the line trimmed of blanks and control
// characters, cut at its first blank (the rest is a comment), upper-cased
// (a to z); entries shorter than 3 characters or starting with "/" are skipped.
// A missing or unreadable file counts as empty and is not reported.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "callsigns/callsign3_char_validator.h"
#include "callsigns/vald_result.h"
#include "callsigns/vuq_string_list.h"

namespace brenvo {

inline constexpr const char* kWatchListFileName = "Watch.lst";
inline constexpr const char* kBlackListFileName = "Black.lst";

class TCallsignValidator {
 public:
  // Loads the files from the data folders (GetReferenceFolder,
  // GetUserDataFolder). Never throws for missing or bad files.
  TCallsignValidator();
  // Loads the files from the given folders ("/" at the end optional).
  TCallsignValidator(const std::string& ReferenceFolder, const std::string& UserDataFolder);

  // The rating of one candidate (any bytes; the extractor passes at most 16
  // characters of decoded text). Never throws; never returns vrUnknown.
  // The database and lists are searched with the whole candidate, exact case,
  // "/" parts included; the structural tests use the base call only.
  TValdResult Validate(std::string_view Call) const;

  // Enters every call of a database file with vrDta; an empty name stands for
  // "Master.dta" in the reference folder. A missing, unreadable or too short
  // file (5481 bytes or less) enters nothing. A last call without its byte 00
  // is entered too.
  void LoadMasterDta(const std::string& FileName);
  // Enters the entries of a call-list file with Result (see above).
  void LoadCallList(const std::string& FileName, TValdResult Result);
  // Enters the entries of Lines with Result; a later entry for a key replaces
  // an earlier one.
  void AddCallList(const TVuqStringList& Lines, TValdResult Result);

  // Number of calls from the database and the lists (tests, statistics).
  std::size_t ListCount() const;
  const TCallsign3CharValidator& Ch3Validator() const { return Ch3; }

 private:
  // A call: its bytes in Keys, its first 8 bytes big-endian (zero-padded:
  // they order almost every pair of calls without a look into Keys) and its
  // rating; 16 bytes, so that a database of 85,000 calls takes little memory.
  struct TEntry {
    uint64_t Head;
    uint32_t Offset;
    uint32_t Length : 24;
    uint32_t Result : 8;  // a TValdResult
  };
  // Keys and entries stay within what TEntry holds: calls of at most
  // kMaxKeyLength bytes (longer ones cannot be callsigns and are not
  // entered), all of them within the first 4 GiB of keys.
  static constexpr std::size_t kMaxKeyLength = (1u << 24) - 1;
  static constexpr std::size_t kMaxKeysSize = UINT32_MAX;

  void Load(const std::string& ReferenceFolder, const std::string& UserDataFolder);
  std::string_view Key(const TEntry& E) const { return std::string_view(Keys).substr(E.Offset, E.Length); }
  static uint64_t HeadOf(std::string_view Key);
  // HeadOf the call that stands in Keys at Offset.
  uint64_t HeadAt(std::size_t Offset, std::size_t Length) const;
  // Key order; entries of one key in the order they were entered (Offset).
  bool Less(const TEntry& A, const TEntry& B) const;
  // Key order alone.
  bool KeyLess(const TEntry& A, const TEntry& B) const;
  // Enters the call that stands in Keys at Offset.
  void Add(std::size_t Offset, std::size_t Length, TValdResult Result);
  // Takes the entries from List[First] on into the sorted table: a later
  // entry for a key replaces an earlier one. Ascending: the new entries are
  // known to stand in strictly ascending key order.
  void MergeNewEntries(std::size_t First, bool Ascending = false);
  // Takes the database that stands in Keys from Base on as the sorted block
  // when every call stands trimmed and in strictly ascending key order;
  // false (nothing taken) otherwise.
  bool TakeSortedDatabase(std::size_t Base);
  // Whether the sorted block holds Call.
  bool InDatabase(std::string_view Call) const;

  TCallsign3CharValidator Ch3;
  // The calls of the database and the lists in one block of bytes, and a
  // table of them sorted by call, each call once: the database loads in a
  // few milliseconds (one read, one sort) where a hash table of 85,000
  // strings took ten times that and as long again to free.
  std::string Keys;
  std::vector<TEntry> List;
  // A database loaded first and in table order (as scp_to_dta writes it)
  // takes no table: its FDbCount calls stay where they stand in Keys (up to
  // FDbEnd, each ended by a byte 00), and a mark of every kDbStride-th call
  // (its head and place) leads a search to the stretch that may hold a call.
  // That spares building and paging in 16 bytes for each of its 85,000
  // calls at every start. The lists (loaded after it) override it from List.
  struct TDbMark {
    uint64_t Head;
    uint32_t Offset;
  };
  static constexpr std::size_t kDbStride = 8;
  std::vector<TDbMark> FDbMarks;
  std::size_t FDbEnd = 0, FDbCount = 0;
};

// The process's one validator: built at start-up before any decoding (after
// the message statistics and the decoding models) and freed at exit. Callsign
// extractors keep a pointer to it and never free it; it is read-only once
// built.
extern std::unique_ptr<TCallsignValidator> CallValidator;

}  // namespace brenvo
