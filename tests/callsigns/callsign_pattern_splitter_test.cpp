#include "callsigns/callsign_pattern_splitter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace brenvo {
namespace {

struct SplitCase {
  const char* call;
  bool ok;
  const char* structure;
  const char* base;
  const char* prefix;
  const char* area;
  const char* modifier;
};

// Structures worked out by hand from the role rules.
const SplitCase kSplitCases[] = {
    // call            ok     structure base      prefix   area modifier
    {"K1ABC", true, "C", "K1ABC", "", "", ""},
    {"K1ABC/P", true, "CM", "K1ABC", "", "", "P"},
    {"DL/K1ABC", true, "PC", "K1ABC", "DL", "", ""},
    {"K1ABC/4", true, "C#", "K1ABC", "", "4", ""},
    {"DL/K1ABC/P", true, "PCM", "K1ABC", "DL", "", "P"},
    {"K1ABC/", true, "C", "K1ABC", "", "", ""},  // a trailing "/" adds no piece
    {"/K1ABC", false, "_C", "K1ABC", "", "", ""},
    {"K1ABC//P", false, "C_M", "K1ABC", "", "", "P"},
    {"QRP", false, "C", "QRP", "", "", ""},
    {"3DA0RU/P", true, "CM", "3DA0RU", "", "", "P"},
    {"GB100ABC", true, "C", "GB100ABC", "", "", ""},
    // Call shape: prefix part, 1 to 4 digits, 1 to 6 letters.
    {"K1234A", true, "C", "K1234A", "", "", ""},
    {"K12345A", false, "C", "K12345A", "", "", ""},
    {"K1ABCDEF", true, "C", "K1ABCDEF", "", "", ""},
    {"K1ABCDEFG", false, "C", "K1ABCDEFG", "", "", ""},
    {"KL7ABC", true, "C", "KL7ABC", "", "", ""},
    {"3D2AB", true, "C", "3D2AB", "", "", ""},
    {"ABC1D", false, "C", "ABC1D", "", "", ""},  // "@@" is taken; "@@@" is no prefix part
    {"K1", false, "C", "K1", "", "", ""},
    {"K1A2B", false, "C", "K1A2B", "", "", ""},
    // Portable prefixes of every shape.
    {"KL7/K1ABC", true, "PC", "K1ABC", "KL7", "", ""},
    {"K1ABC/KL7", true, "CP", "K1ABC", "KL7", "", ""},
    {"K1ABC/K1", true, "CP", "K1ABC", "K1", "", ""},
    {"F/K1ABC", true, "PC", "K1ABC", "F", "", ""},
    {"W/K1ABC", true, "PC", "K1ABC", "W", "", ""},
    {"K1ABC/DL/P", true, "CPM", "K1ABC", "DL", "", "P"},
    {"K1ABC/P/DL", true, "CMP", "K1ABC", "DL", "", "P"},
    // MM is a prefix in front, a modifier behind.
    {"MM/K1ABC", true, "PC", "K1ABC", "MM", "", ""},
    {"K1ABC/MM", true, "CM", "K1ABC", "", "", "MM"},
    // Modifiers and text.
    {"K1ABC/QRP", true, "CM", "K1ABC", "", "", "QRP"},
    {"K1ABC/P/QRP", true, "CMM", "K1ABC", "", "", "P"},
    {"K1ABC/4/QRP", true, "C#M", "K1ABC", "", "4", "QRP"},
    {"K1ABC/4/X", true, "C#T", "K1ABC", "", "4", ""},
    {"K1ABC/W", true, "CT", "K1ABC", "", "", ""},
    {"K1ABC/ABCD", true, "CT", "K1ABC", "", "", ""},
    {"K1ABC/12", true, "CT", "K1ABC", "", "", ""},
    {"K1ABC/1234", true, "CT", "K1ABC", "", "", ""},
    {"P/K1ABC", false, "MC", "K1ABC", "", "", "P"},
    {"A/K1ABC", false, "MC", "K1ABC", "", "", "A"},
    // Pieces that may be a prefix or a call, decided by their neighbours.
    {"W1A/K1ABC", true, "PC", "K1ABC", "W1A", "", ""},
    {"K1ABC/W1A", true, "CP", "K1ABC", "W1A", "", ""},
    {"W1A/W1B", true, "PC", "W1B", "W1A", "", ""},
    {"DL1A/K1ABC", true, "PC", "K1ABC", "DL1A", "", ""},
    {"W1A/P", true, "CM", "W1A", "", "", "P"},
    {"W1A/W1B/P", true, "PCM", "W1B", "W1A", "", "P"},
    // Two call-shaped pieces.
    {"K1ABC/BY1AA", true, "CP", "K1ABC", "BY1AA", "", ""},
    {"VU4AB/K1ABC", true, "PC", "K1ABC", "VU4AB", "", ""},
    {"VU7XY/K1ABC", true, "PC", "K1ABC", "VU7XY", "", ""},
    {"VU2AB/K1ABC", false, "CC", "VU2AB", "", "", ""},
    {"K1ABC/W1ABC", false, "CC", "K1ABC", "", "", ""},
    {"K1ABC/1A2B", false, "CC", "K1ABC", "", "", ""},
    {"K1ABC/ABC1D2", false, "C?", "K1ABC", "", "", ""},
    // Four pieces are never an accepted structure; five are too many.
    {"DL/K1ABC/4/P", false, "PC#M", "K1ABC", "DL", "4", "P"},
    {"A/B/C/D/E", false, "", "", "", "", ""},
    // Characters that no call holds.
    {"k1abc", false, "", "", "", "", ""},
    {"K1 ABC", false, "", "", "", "", ""},
    {"K1-ABC", false, "", "", "", "", ""},
    {"K1\xC4"
     "BC",
     false, "", "", "", "", ""},
    {"", false, "", "", "", "", ""},
    {"/", false, "C", "", "", "", ""},
    {"//", false, "__", "", "", "", ""},
};

TEST(CallsignPatternSplitter, SplitStructures) {
  TCallsignPatternSplitter s;
  for (const auto& c : kSplitCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(s.Split(c.call), c.ok);
    EXPECT_EQ(s.OK(), c.ok);
    EXPECT_EQ(s.Structure(), c.structure);
    EXPECT_EQ(s.BaseCall(), c.base);
    EXPECT_EQ(s.PortablePrefix(), c.prefix);
    EXPECT_EQ(s.CallArea(), c.area);
    EXPECT_EQ(s.Modifier(), c.modifier);
  }
}

TEST(CallsignPatternSplitter, ReusedSplitterForgetsThePreviousCall) {
  TCallsignPatternSplitter s;
  ASSERT_TRUE(s.Split("DL/K1ABC/P"));
  EXPECT_FALSE(s.Split("K1 ABC"));
  EXPECT_EQ(s.Structure(), "");
  EXPECT_EQ(s.BaseCall(), "");
  EXPECT_EQ(s.PieceCount(), 0);
  ASSERT_TRUE(s.Split("K1ABC"));
  EXPECT_EQ(s.PieceCount(), 1);
  EXPECT_FALSE(s.IsSpecialEvent());
}

TEST(CallsignPatternSplitter, PieceToPattern) {
  EXPECT_EQ(TCallsignPatternSplitter::PieceToPattern("K1ABC"), "@#@@@");
  EXPECT_EQ(TCallsignPatternSplitter::PieceToPattern("3DA0RU"), "#@@#@@");
  EXPECT_EQ(TCallsignPatternSplitter::PieceToPattern("a-1/B"), "**#/@");
  EXPECT_EQ(TCallsignPatternSplitter::PieceToPattern(""), "");
}

TEST(CallsignPatternSplitter, StripModifiersReversesTheKeptPieces) {
  struct Case {
    const char* call;
    const char* stripped;
  } cases[] = {{"DL/K1ABC/P", "K1ABC/DL"},
               {"K1ABC/4/QRP", "4/K1ABC"},
               {"K1ABC/P", "K1ABC"},
               {"K1ABC", "K1ABC"},
               {"K1ABC/P/DL", "DL/K1ABC"}};
  TCallsignPatternSplitter s;
  for (const auto& c : cases) {
    ASSERT_TRUE(s.Split(c.call)) << c.call;
    EXPECT_EQ(s.StripModifiers(), c.stripped) << c.call;
  }
  s.Split("k1abc");
  EXPECT_EQ(s.StripModifiers(), "");
}

TEST(CallsignPatternSplitter, SpecialEventCalls) {
  struct Case {
    const char* call;
    bool special;
  } cases[] = {{"K1ABC", false},   {"DL1ABC", false},  {"K1AB", false},  {"KH6AB", false},
               {"3DA0RU", true},   {"GB100ABC", true}, {"W1A", true},    {"DL/K1ABC/P", false},
               {"K1ABC/P", false}, {"9A1AB", false},   {"2E0ABC", false}};
  TCallsignPatternSplitter s;
  for (const auto& c : cases) {
    s.Split(c.call);
    EXPECT_EQ(s.IsSpecialEvent(), c.special) << c.call;
  }
  s.Split("DL/QRP");  // no base call at all
  EXPECT_EQ(s.BaseCall(), "");
  EXPECT_FALSE(s.IsSpecialEvent());
}

// A splitter that knows only "DL" as a prefix: the hook decides prefix pieces.
class TDlOnlySplitter : public TCallsignPatternSplitter {
 protected:
  bool IsKnownPrefix(int32_t Index) const override { return Piece(Index) == "DL"; }
};

TEST(CallsignPatternSplitter, KnownPrefixHookDecidesPrefixPieces) {
  TDlOnlySplitter s;
  EXPECT_TRUE(s.Split("DL/K1ABC"));
  EXPECT_EQ(s.Structure(), "PC");
  EXPECT_FALSE(s.Split("KL7/K1ABC"));
  EXPECT_EQ(s.Structure(), "?C");
  EXPECT_FALSE(s.Split("ON/K1ABC"));
  EXPECT_EQ(s.Structure(), "TC");
  // Any two-character piece is uniform, so an unknown one is text.
  EXPECT_TRUE(s.Split("K1ABC/K1"));
  EXPECT_EQ(s.Structure(), "CT");
  // A piece that could be a prefix or a call, not known as a prefix, is the call.
  EXPECT_FALSE(s.Split("K1ABC/W1A"));
  EXPECT_EQ(s.Structure(), "CC");
}

// The ITU table, written out independently: first character -> the second
// characters that make it fail ("*" = every character fails, "+" = only the
// listed ones pass).
TEST(IsItuPrefix, EveryRowWithItsExceptions) {
  const std::string digits = "0123456789";
  const std::map<char, std::string> fails = {
      {'0', "*"},    {'Q', "*"},    {'4', digits + "N"}, {'5', digits}, {'6', digits},
      {'7', digits}, {'8', digits}, {'9', digits},       {'O', digits}, {'X', digits},
      {'A', "01"},   {'C', "01"},   {'D', "01"},         {'L', "01"},   {'P', "01"},
      {'V', "01"},   {'E', "0189"}, {'H', "015"},        {'J', "019"},  {'T', "019"},
      {'S', "14"},   {'Y', "01Z"},  {'Z', "0145679"},
  };
  const std::string chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ/";
  for (char first : chars) {
    for (char second : chars) {
      bool expected;
      if (first == '1') {
        expected = second == 'A' || second == 'B';
      } else if (auto it = fails.find(first); it != fails.end()) {
        expected = it->second != "*" && it->second.find(second) == std::string::npos;
      } else {
        expected = true;  // 2, 3, B, F, G, I, K, M, N, R, U, W and the rest
      }
      const std::string call = std::string{first, second} + "1AB";
      EXPECT_EQ(IsItuPrefix(call), expected) << call;
    }
  }
}

TEST(IsItuPrefix, WorkedExamples) {
  EXPECT_TRUE(IsItuPrefix("1A0KM"));
  EXPECT_TRUE(IsItuPrefix("1B1AB"));
  EXPECT_FALSE(IsItuPrefix("1C1AB"));
  EXPECT_FALSE(IsItuPrefix("4N1AB"));
  EXPECT_TRUE(IsItuPrefix("4X4AB"));
  EXPECT_TRUE(IsItuPrefix("Z81X"));
  EXPECT_FALSE(IsItuPrefix("Z91X"));
  EXPECT_FALSE(IsItuPrefix("0K1AB"));
  EXPECT_FALSE(IsItuPrefix("QRZ"));
  EXPECT_TRUE(IsItuPrefix("#AB"));  // any other character
}

TEST(IsItuPrefix, TooShortIsNoPrefix) {
  EXPECT_FALSE(IsItuPrefix(""));
  EXPECT_FALSE(IsItuPrefix("K"));
  EXPECT_FALSE(IsItuPrefix("1"));
}

}  // namespace
}  // namespace brenvo
