#include "core/errors.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/text.h"

namespace {

TEST(ErrorTable, NamesOfEveryCode) {
  EXPECT_STREQ(error_name(ERR_EDB), "ERR_EDB");
  EXPECT_STREQ(error_name(ERR_FIL), "ERR_FIL");
  EXPECT_STREQ(error_name(ERR_FRM), "ERR_FRM");
  EXPECT_STREQ(error_name(ERR_LOG), "ERR_LOG");
  EXPECT_STREQ(error_name(ERR_INP), "ERR_INP");
  EXPECT_STREQ(error_name(ERR_MEM), "ERR_MEM");
  EXPECT_STREQ(error_name(ERR_PSW), "ERR_PSW");
  EXPECT_STREQ(error_name(ERR_PMM), "ERR_PMM");
  EXPECT_STREQ(error_name(ERR_DIR), "ERR_DIR");
  EXPECT_STREQ(error_name(ERR_RMV), "ERR_RMV");
  EXPECT_STREQ(error_name(ERR_TMP), "ERR_TMP");
  EXPECT_STREQ(error_name(ERR_POS), "ERR_POS");
  for (int code : {0, 1, -1, -2, -15, -1000}) {
    EXPECT_STREQ(error_name(code), "") << code;
    EXPECT_STREQ(error_message(code), "") << code;
  }
}

TEST(ErrorTable, Messages) {
  EXPECT_STREQ(error_message(ERR_EDB),
               "Empty Quillmoray database. In order for the program to generate any reports you first need to "
               "instruct it to parse your server's log file. Once the program successfully completes the "
               "parsing try this again.");
  EXPECT_STREQ(error_message(ERR_FIL),
               "Failed to open input / output file(s). Make sure that you are not missing any installation "
               "files, and that you have set file permissions according to the installation instructions.");
  EXPECT_STREQ(error_message(ERR_INP), "Invalid program input. Please use only the forms provided to input data.");
  EXPECT_STREQ(error_message(ERR_MEM),
               "Memory allocation error. Please try again or contact server administrator if the problem "
               "persists.");
  EXPECT_STREQ(error_message(ERR_PSW),
               "Invalid program password. Please use <b>Back</b> button to correct the problem.");
  EXPECT_STREQ(error_message(ERR_PMM),
               "New and confirmed passwords do not match. Please use <b>Back</b> button to correct the problem.");
}

// The two messages that link to the product's site: fixed text around an address
// whose page path is fixed.
void expect_link_message(const std::string& message, const std::string& before, const std::string& path,
                         const std::string& after) {
  ASSERT_EQ(message.compare(0, before.size(), before), 0) << message;
  std::string rest = message.substr(before.size());
  ASSERT_EQ(rest.compare(0, 8, "<a href="), 0) << rest;
  const std::string window = " target=qmy rel=\"noopener noreferrer\">";
  size_t target = rest.find(window);
  ASSERT_NE(target, std::string::npos);
  std::string address = rest.substr(8, target - 8);
  EXPECT_EQ(address.compare(0, 7, "http://"), 0) << address;
  EXPECT_EQ(address.substr(address.size() - path.size()), path);
  EXPECT_EQ(address.find_first_of(" \"<>'"), std::string::npos);
  EXPECT_EQ(rest.substr(target), window + after);
}

TEST(ErrorTable, MessagesWithLinks) {
  expect_link_message(error_message(ERR_FRM),
                      "Unspecified or invalid log file format. Please specify the format and try again. For more "
                      "info on log file formats ",
                      "/v30/formats.htm", "<b>click here</b></a>.");
  expect_link_message(error_message(ERR_LOG),
                      "Empty or missing Quillmoray log file. Please make sure you have added the tracking code to "
                      "your pages, and that it is functioning properly. Refer to the installation instructions "
                      "or ",
                      "/v30/faq.htm", "<b>FAQ list</b></a> if the problem persists.");
}

TEST(ErrorLog, AppendsOneLinePerFailure) {
  char pattern[] = "/tmp/qm-errors-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  ASSERT_EQ(system(("mkdir " + dir + "/data").c_str()), 0);
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  today.year = 2004;
  today.month = 12;
  today.day = 31;
  today.hour = 23;
  today.minute = 5;
  today.second = 9;
  unsetenv("REMOTE_ADDR");
  setenv("HTTP_USER_AGENT", "Lynx/2.8", 1);
  append_error_log(0, "RPRT");
  append_error_log(ERR_PSW, "RPRT");
  setenv("REMOTE_ADDR", "192.0.2.55", 1);
  append_error_log(ERR_EDB, "PRSR");
  std::ifstream in(kErrorLogPath);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "12/31/2004 23:05:09 ERR_PSW RPRT na Lynx/2.8\n"
                        "12/31/2004 23:05:09 ERR_EDB PRSR 192.0.2.55 Lynx/2.8\n");
  ASSERT_EQ(chdir(old), 0);
  std::free(old);
  ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

}  // namespace
