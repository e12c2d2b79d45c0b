#include "ui/qt_audio_dispatcher.h"

#include <gtest/gtest.h>

#include <QTest>
#include <stdexcept>
#include <string>

#include "ui/user_prompts.h"

namespace brenvo {
namespace {

// Items run in the event loop; of a run of failures of one owner only the
// first, and each change of text, is reported; a success or a cancel ends
// the run. Other owners keep their own record.
TEST(QtAudioDispatcher, ReportsARunOfEqualFailuresOnce) {
  std::string log;
  TQtAudioDispatcher d([&](std::exception_ptr e) { log += ExceptionText(e) + " "; });
  int a = 0, b = 0;
  auto fail = [&](const void* owner, const char* text) {
    d.Post(owner, [owner, text, &a] { throw std::runtime_error((owner == &a ? "a" : "b") + std::string(text)); });
  };
  for (int i = 0; i < 3; ++i) fail(&a, "1"), fail(&b, "1");
  fail(&a, "2");
  fail(&a, "1");
  d.Post(&a, [] {});
  fail(&a, "1");
  fail(&b, "1");
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return d.Pending() == 0; }, 5000));
  d.Cancel(&b);
  fail(&b, "1");
  EXPECT_TRUE(QTest::qWaitFor([&] { return d.Pending() == 0; }, 5000));
  EXPECT_EQ(log, "a1 b1 a2 a1 a1 b1 ");
}

}  // namespace
}  // namespace brenvo
