#include "core/progress.h"

#include <gtest/gtest.h>

#include "support/progress_log.h"

namespace orv {
namespace {

using test::Told;

TEST(ProgressCounter, TellsTheStartEvenStepsAndTheTotalOnce) {
  test::ProgressLog log;
  const ProgressFn listener = log.listener();
  ProgressCounter counter(listener, 2999);  // steps of 2 that do not divide the total
  for (int i = 0; i < 3100; ++i) counter.judged_one();
  ASSERT_EQ(log.told.size(), 1501u);
  EXPECT_EQ(log.told[0], (Told::value_type{0, 2999}));
  EXPECT_EQ(log.told[1], (Told::value_type{2, 2999}));
  EXPECT_EQ(log.told[1500], (Told::value_type{2999, 2999}));  // and nothing past the total
}

}  // namespace
}  // namespace orv
