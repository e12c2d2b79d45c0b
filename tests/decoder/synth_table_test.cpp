// The test-signal synthesiser keeps a Baudot table of its own, so that the
// decoder's tests do not check the decoder's table against itself. The two
// must still agree, or a synthesised text would not come back as sent.
#include <gtest/gtest.h>

#include <cstdint>

#include "decoder/baudot_table.h"
#include "decoder/char_info.h"
#include "support/rtty_synth.h"

namespace brenvo {
namespace {

// The synthesiser's ASCII character in the decoder's internal character set.
uint8_t ToInternal(uint8_t code, char c) {
  switch (c) {
    case ' ':
      return kChSpace;
    case '\n':
      return kChLineFeed;
    case '\r':
      return kChCarriageReturn;
    case '\0':
      return code == testing::kItaFigures   ? kChFigures
             : code == testing::kItaLetters ? kChLetters
                                            : kChNull;
    default:
      return static_cast<uint8_t>(c);
  }
}

TEST(SynthBaudotTable, EveryCodeOfBothRowsMatchesTheDecodersTable) {
  for (int row = 0; row < 2; ++row) {
    for (uint8_t code = 0; code < 32; ++code) {
      const char c = testing::Ita2ToAscii(code, row == 1);
      EXPECT_EQ(ToInternal(code, c), BaudotTable[row][code])
          << "row " << row << " code " << int(code);
    }
  }
}

}  // namespace
}  // namespace brenvo
