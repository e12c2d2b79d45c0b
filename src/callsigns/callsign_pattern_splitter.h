// Splits a compound callsign ("DL/K1ABC/P") at "/" into a base call, a
// portable prefix, modifiers and a call-area digit, and judges whether the
// structure is one that real calls have. Also the ITU prefix allocation test.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "callsigns/vuq_string_list.h"

namespace brenvo {

class TCallsignPatternSplitter {
 public:
  TCallsignPatternSplitter();
  virtual ~TCallsignPatternSplitter() = default;

  // Splits and judges Call (any bytes; only digits, upper-case letters A to Z
  // and "/" can pass, 1 to 4 pieces). Never throws for any input; sets OK,
  // Structure and the pieces. A "/" at the very end is ignored.
  bool Split(std::string_view Call);

  bool OK() const { return FOk; }
  // One role letter per piece: C base call, P prefix, M modifier, # call-area
  // digit, T text, _ empty piece, ? unrecognised.
  const std::string& Structure() const { return FStructure; }
  int32_t PieceCount() const { return Pieces.Count(); }
  const std::string& Piece(int32_t Index) const { return Pieces.Strings(Index); }

  // The first piece of the role (after a successful Split), or "" when none.
  std::string BaseCall() const { return PieceOfRole('C'); }
  std::string PortablePrefix() const { return PieceOfRole('P'); }
  std::string CallArea() const { return PieceOfRole('#'); }
  std::string Modifier() const { return PieceOfRole('M'); }
  std::string PieceOfRole(char Role) const;

  // The pieces of role #, C and P from the last to the first, joined by "/"
  // (DL/K1ABC/P gives K1ABC/DL); "" when there are none.
  std::string StripModifiers() const;
  // True when there is a base call and its pattern is not an ordinary one
  // (such as @#@@@): special-event calls like GB100ABC.
  bool IsSpecialEvent() const;

  // Each digit becomes "#", each letter A to Z "@", "/" stays, anything else "*".
  static std::string PieceToPattern(std::string_view Piece);

 protected:
  // Asked for a piece whose pattern is a prefix pattern. Every such piece is
  // accepted here; a subclass may check it against a prefix table.
  virtual bool IsKnownPrefix(int32_t Index) const;

 private:
  bool IsModifierPiece(int32_t i) const;
  bool IsUniformPiece(int32_t i) const;
  bool IsPrefixPiece(int32_t i) const;
  bool IsAmbiguousPiece(int32_t i) const;
  bool IsCallPiece(int32_t i) const;
  char RoleOf(int32_t i) const;

  std::string FCall;
  std::string FStructure;
  bool FOk = false;
  TVuqStringList Pieces;
  std::array<std::string, 4> Patterns;
};

// Whether the first two characters of a base call can start a call of an
// allocated ITU prefix. Calls shorter than 2 characters give false.
bool IsItuPrefix(std::string_view Call);

}  // namespace brenvo
