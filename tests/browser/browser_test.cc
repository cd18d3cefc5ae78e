// A real browser through a served installation: headless Chromium, driven by
// browse.mjs (playwright-core), visits tracked pages of the demo site and uses the
// owner's pages. The screenshots land in the build folder's browser-screenshots/.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/web_server.h"

TEST(Browser, OwnerLogsInParsesAndReadsTheReportsOfRealVisits) {
  const std::string scripts = std::string(QM_SOURCE_DIR) + "/tests/browser";
  int status = 0;
  if (lighttpd_program().empty()) GTEST_SKIP() << "needs the Debian package lighttpd";
  if (std::string(QM_CHROMIUM).empty()) GTEST_SKIP() << "needs the Debian package chromium";
  if (std::string(QM_NODE).empty()) GTEST_SKIP() << "needs the Debian packages nodejs npm";
  if (!std::filesystem::exists(scripts + "/node_modules/playwright-core")) {
    GTEST_SKIP() << "needs playwright-core from npm (Debian package npm; npm ci --prefix tests/browser)";
  }

  ServedInstallation served;
  ASSERT_TRUE(served.start("br0wser")) << served.error();
  std::string site = output_of("bash " + std::string(QM_SOURCE_DIR) + "/scripts/demo-site.sh " + served.prefix() +
                                   "/www " + served.url(), &status);
  ASSERT_EQ(status, 0) << site;

  const std::string shots = std::string(QM_BIN_DIR) + "/browser-screenshots";
  const std::string profile = served.prefix() + "/chromium-profile";  // new and empty
  std::filesystem::create_directories(shots);
  std::filesystem::create_directories(profile);
  std::string out = output_of(std::string("QM_CHROMIUM=") + QM_CHROMIUM + " " + QM_NODE + " " + scripts + "/browse.mjs " +
                                  served.site() + " " + served.url() +
                                  " br0wser " + shots + " " + profile, &status);
  EXPECT_EQ(status, 0) << out;
  std::printf("%s", out.c_str());
}
