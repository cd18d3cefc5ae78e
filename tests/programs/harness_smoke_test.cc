#include <gtest/gtest.h>

#include "support/cgi_harness.h"

TEST(CgiHarness, RunsTheTracker) {
  CgiSandbox box;
  CgiResult r = box.run(program_path("tracker/tracker.cgi"), {{"QUERY_STRING", "VERSION"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(box.exists("data"));
}
