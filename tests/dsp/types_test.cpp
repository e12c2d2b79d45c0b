#include "dsp/types.h"

#include <gtest/gtest.h>

#include "dsp/errors.h"

namespace brenvo {
namespace {

TEST(ComplexModulus, WorkedValues) {
  struct Case {
    float re, im, expected;
  } cases[] = {{3, -4, 5}, {0, -2, 2}, {-7, 0, 7}, {0, 0, 0}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(ComplexModulus({c.re, c.im}), c.expected) << c.re << "," << c.im;
}

TEST(ComplexModulus, NoOverflowNearFloatMax) {
  EXPECT_NEAR(ComplexModulus({1e30f, 1e30f}), 1.41421356e30f, 1e24f);
  EXPECT_NEAR(ComplexModulus({3e38f, 1e38f}), 3.16227766e38f, 1e32f);
}

TEST(ReImConversions, RoundTripAndEmpty) {
  TReImArrays r{{1, 2, 3}, {-1, -2, -3}};
  const TReImArrays back = ComplexToReIm(ReImToComplex(r));
  EXPECT_EQ(back.Re, r.Re);
  EXPECT_EQ(back.Im, r.Im);
  const TReImArrays empty = ComplexToReIm({});
  EXPECT_TRUE(empty.Re.empty() && empty.Im.empty());
  EXPECT_THROW(ReImToComplex(TSingleArray{1, 2}, TSingleArray{1}), ERangeError);
}

TEST(ReImConversions, SetLengthKeepsAndZeroFills) {
  TReImArrays r{{1, 2}, {3, 4}};
  SetReImLength(r, 4);
  EXPECT_EQ(r.Re, (TSingleArray{1, 2, 0, 0}));
  EXPECT_EQ(r.Im, (TSingleArray{3, 4, 0, 0}));
}

TEST(AlignedArrays, FirstElementAlignedAndZeroed) {
  TAlignedComplexArray a(256);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.data()) % 16, 0u);
  for (const auto& c : a) EXPECT_TRUE(c.Re == 0 && c.Im == 0);
}

TEST(PosMod, NegativeValuesWrapIntoRange) {
  EXPECT_EQ(PosMod(-1, 1024), 1023);
  EXPECT_EQ(PosMod(-1024LL, 1024LL), 0);
  EXPECT_EQ(PosMod(2049, 1024), 1);
}

}  // namespace
}  // namespace brenvo
