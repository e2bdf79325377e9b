// The accelerated engine against the plain algorithm on the real lists and
// every request of the real workload: identical answers, request by
// request, and identical selectors, page by page.
#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "workload/workload.h"

namespace quibex {
namespace {

TEST(RealDifferentialTest, AcceleratedEqualsPlainOnTheWorkload) {
  const std::string first = testing::dataFile("easylist.txt");
  const std::string second = testing::dataFile("easyprivacy.txt");
  const std::string requests = testing::dataFile("requests.json");
  if (first.empty() || second.empty() || requests.empty()) {
    GTEST_SKIP() << "shared data folder is absent";
  }
  Workload workload;
  std::string error;
  ASSERT_TRUE(loadWorkload(requests, &workload, &error)) << error;
  ASSERT_GT(workload.requests.size(), 8000u);

  auto fast =
      testing::LoadedEngine::fromFiles(first, second, MatchMode::kAccelerated);
  auto plain =
      testing::LoadedEngine::fromFiles(first, second, MatchMode::kPlain);
  size_t blocked = 0;
  for (const WorkloadRequest& r : workload.requests) {
    const BlockExplanation a = fast->engine().explainBlock(r.url, r.page);
    const BlockExplanation b = plain->engine().explainBlock(r.url, r.page);
    ASSERT_EQ(a.blocked, b.blocked) << r.url << " on " << r.page;
    ASSERT_EQ(a.step, b.step) << r.url << " on " << r.page;
    ASSERT_EQ(fast->block(r.url, r.page), a.blocked);
    blocked += a.blocked;
  }
  EXPECT_GT(blocked, workload.records / 4);  // real lists block real trackers
  for (const std::string& page : workload.pages) {
    ASSERT_EQ(fast->selectors(page, page), plain->selectors(page, page))
        << page;
  }
}

}  // namespace
}  // namespace quibex
