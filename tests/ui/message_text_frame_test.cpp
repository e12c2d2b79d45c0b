#include <gtest/gtest.h>

#include "ui/message_text_frame.h"

namespace brenvo {
namespace {

TEST(MessageTextFrame, QsxBarReachesTheModel) {
  TMessageTextFrame f;
  f.PutQsxBar(2297);
  ASSERT_EQ(f.Model().Lines().size(), 1u);
  EXPECT_EQ(f.Model().Lines()[0], " QSX 2297 Hz");
}

}  // namespace
}  // namespace brenvo
