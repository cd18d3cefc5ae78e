#include "core/form_input.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "core/memory.h"

namespace {

class FormInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH"}) unsetenv(name);
  }
  void TearDown() override {
    fail_allocations_after(-1);
    if (body_) std::fclose(body_);
  }

  // Sets a POST request with the body; the announced length defaults to its size.
  FILE* post(const std::string& body, const char* length = nullptr) {
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
    setenv("CONTENT_LENGTH", length ? length : std::to_string(body.size()).c_str(), 1);
    if (body_) std::fclose(body_);
    body_ = std::tmpfile();
    std::fwrite(body.data(), 1, body.size(), body_);
    std::rewind(body_);
    return body_;
  }

  FILE* body_ = nullptr;
};

void set_get(const char* query) {
  setenv("REQUEST_METHOD", "GET", 1);
  setenv("QUERY_STRING", query, 1);
}

std::string decoded(const char* text) {
  std::string copy(text);
  FormInput::url_decode(&copy[0]);
  return std::string(copy.c_str());
}

TEST_F(FormInputTest, CountsOnlyPairsWhoseValueWasCut) {
  struct Case {
    const char* query;
    int fields;
  } cases[] = {{"a=1&b=2", 2}, {"a=1&b", 1}, {"a=1&b=", 1}, {"a=&b=2", 2}, {"", 0}, {"a=1&", 1}, {"=&", 1}};
  for (const Case& c : cases) {
    set_get(c.query);
    FormInput form;
    ASSERT_EQ(form.parse(), 0) << c.query;
    EXPECT_EQ(form.count, c.fields) << c.query;
  }
  set_get("a=&b=2");
  FormInput form;
  ASSERT_EQ(form.parse(), 0);
  EXPECT_STREQ(form.names[0], "a");
  EXPECT_STREQ(form.values[0], "");
  EXPECT_STREQ(form.names[1], "b");
  EXPECT_STREQ(form.values[1], "2");
}

TEST_F(FormInputTest, NameMayHoldAmpersandAndValueEquals) {
  set_get("a&b=x=y&c%3D%26=1");
  FormInput form;
  ASSERT_EQ(form.parse(), 0);
  ASSERT_EQ(form.count, 2);
  EXPECT_STREQ(form.names[0], "a&b");
  EXPECT_STREQ(form.values[0], "x=y");
  // Decoding comes after the cut: encoded delimiters do not split.
  EXPECT_STREQ(form.names[1], "c=&");
}

TEST_F(FormInputTest, DecodesPlusAndEscapes) {
  EXPECT_EQ(decoded("a+b"), "a b");
  EXPECT_EQ(decoded("%2B"), "+");
  EXPECT_EQ(decoded("%41"), "A");
  EXPECT_EQ(decoded("%41%62c"), "Abc");
  EXPECT_EQ(decoded("ab%"), "ab");
  EXPECT_EQ(decoded("ab%4"), "ab\x04");
  // A NUL or a pair without hexadecimal digits ends the text.
  EXPECT_EQ(decoded("ab%00cd"), "ab");
  EXPECT_EQ(decoded("ab%zzcd"), "ab");
  EXPECT_EQ(decoded("%4z!"), "\x04!");
  EXPECT_EQ(decoded("%-1"), "\xff");
}

TEST_F(FormInputTest, EscapeReadsExactlyTwoCharacters) {
  EXPECT_EQ(decoded("%414243"), "A4243");
  EXPECT_EQ(decoded("%ffff"), "\xff" "ff");
  // A "%" near the end never reads past it.
  std::string text = "x%";
  text.push_back('\0');
  text += "41";
  FormInput::url_decode(&text[0]);
  EXPECT_STREQ(text.c_str(), "x");
  EXPECT_EQ(text.substr(3), "41");
}

TEST_F(FormInputTest, FirstPairWinsExceptForGetInts) {
  set_get("n=5&x=a&n=7&n=9");
  FormInput form;
  ASSERT_EQ(form.parse(), 0);
  EXPECT_EQ(form.index_of("n"), 0);
  EXPECT_EQ(form.index_of("x"), 1);
  EXPECT_EQ(form.index_of("N"), -1);
  int n = 0;
  EXPECT_EQ(form.get_int("n", n), 5);
  EXPECT_EQ(n, 5);
  int numbers[4] = {0, 0, 0, 0};
  form.get_ints("n", numbers, 2);
  EXPECT_EQ(numbers[0], 5);
  EXPECT_EQ(numbers[1], 7);
  EXPECT_EQ(numbers[2], 0);
  form.get_ints("n", numbers, 4);
  EXPECT_EQ(numbers[2], 9);
  EXPECT_EQ(numbers[3], 0);
  int untouched = 42;
  EXPECT_EQ(form.get_int("missing", untouched), -1);
  EXPECT_EQ(untouched, 42);
}

TEST_F(FormInputTest, StringAndFlagLookups) {
  set_get("e=&s=hi+there&f1=1&f2=01&f3=+1&f4=2&f5=yes&f6=");
  FormInput form;
  ASSERT_EQ(form.parse(), 0);
  char* out = reinterpret_cast<char*>(1);
  EXPECT_EQ(form.get_string("e", out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(form.get_string("missing", out), 0);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(form.get_string("s", out), 0);
  EXPECT_STREQ(out, "hi there");
  std::free(out);
  fail_allocations_after(0);
  EXPECT_EQ(form.get_string("s", out), ERR_MEM);
  EXPECT_EQ(out, nullptr);
  fail_allocations_after(-1);

  for (const char* on : {"f1", "f2", "f3"}) {
    bool flag = false;
    form.get_flag(on, flag);
    EXPECT_TRUE(flag) << on;
  }
  for (const char* off : {"f4", "f5", "f6", "missing"}) {
    bool flag = true;
    form.get_flag(off, flag);
    EXPECT_FALSE(flag) << off;
  }
}

TEST_F(FormInputTest, GetIntoPadsAndAlwaysTerminates) {
  set_get("nine=123456789&three=abc&long=abcdefghijklmnop");
  FormInput form;
  ASSERT_EQ(form.parse(), 0);
  char buffer[12];
  std::memset(buffer, 'X', sizeof buffer);
  ASSERT_EQ(form.get_into("nine", buffer, 10), 0);
  EXPECT_EQ(std::string(buffer, 10), std::string("123456789\0", 10));
  EXPECT_EQ(buffer[10], 'X');

  std::memset(buffer, 'X', sizeof buffer);
  ASSERT_EQ(form.get_into("three", buffer, 10), 0);
  EXPECT_EQ(std::string(buffer, 10), std::string("abc\0\0\0\0\0\0\0", 10));
  EXPECT_EQ(buffer[10], 'X');

  std::memset(buffer, 'X', sizeof buffer);
  ASSERT_EQ(form.get_into("long", buffer, 10), 0);
  EXPECT_EQ(std::string(buffer, 10), std::string("abcdefghi\0", 10));
  EXPECT_EQ(buffer[10], 'X');

  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(form.get_into("missing", buffer, 10), -1);
  EXPECT_EQ(buffer[0], 'X');
  EXPECT_EQ(form.get_into("nine", buffer, 0), -1);
  EXPECT_EQ(buffer[0], 'X');
}

TEST_F(FormInputTest, RequestMethodMustMatchExactly) {
  setenv("REQUEST_METHOD", "get", 1);
  setenv("QUERY_STRING", "a=1", 1);
  FormInput lower;
  EXPECT_FALSE(lower.is_get);
  EXPECT_FALSE(lower.is_post);
  EXPECT_EQ(lower.parse(), 0);
  EXPECT_EQ(lower.count, 0);

  unsetenv("REQUEST_METHOD");
  FormInput none;
  EXPECT_FALSE(none.is_get || none.is_post);
  EXPECT_EQ(none.parse(), 0);

  setenv("REQUEST_METHOD", "GET", 1);
  unsetenv("QUERY_STRING");
  FormInput no_query;
  EXPECT_TRUE(no_query.is_get);
  EXPECT_EQ(no_query.parse(), ERR_INP);
}

TEST_F(FormInputTest, GetLeavesTheEnvironmentAsItWas) {
  set_get("a=x+y%21&b=2");
  FormInput form;
  ASSERT_EQ(form.parse(), 0);
  EXPECT_STREQ(form.values[0], "x y!");
  EXPECT_STREQ(std::getenv("QUERY_STRING"), "a=x+y%21&b=2");
}

TEST_F(FormInputTest, PostReadsTheUrlEncodedBody) {
  FILE* in = post("pass=se%21cret&type=login");
  FormInput form;
  EXPECT_TRUE(form.is_post);
  ASSERT_EQ(form.parse(in), 0);
  ASSERT_EQ(form.count, 2);
  EXPECT_STREQ(form.values[0], "se!cret");
  EXPECT_STREQ(form.values[1], "login");
}

TEST_F(FormInputTest, PostBodyIsTheAnnouncedLengthOrWhatArrives) {
  // Read no more than announced; a shorter body ends where the input ends.
  struct Case {
    const char* body;
    const char* length;
  } cases[] = {{"a=1&b=2&c=3", "7"}, {"a=1&b=2", "4000"}};
  for (const Case& c : cases) {
    FILE* in = post(c.body, c.length);
    FormInput form;
    ASSERT_EQ(form.parse(in), 0);
    ASSERT_EQ(form.count, 2);
    EXPECT_STREQ(form.values[1], "2");
    EXPECT_EQ(form.index_of("c"), -1);
  }
}

TEST_F(FormInputTest, PostContentTypeAndLengthAreChecked) {
  FILE* in = post("a=1");
  setenv("CONTENT_TYPE", "application/x-www-form-urlencoded; charset=UTF-8", 1);
  EXPECT_EQ(FormInput().parse(in), ERR_INP);
  unsetenv("CONTENT_TYPE");
  EXPECT_EQ(FormInput().parse(in), ERR_INP);
  setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
  unsetenv("CONTENT_LENGTH");
  EXPECT_EQ(FormInput().parse(in), ERR_INP);
}

TEST_F(FormInputTest, BadContentLengthIsRefusedBeforeAnyAllocation) {
  for (const char* length : {"-1", "-2147483648", "abc", "", "12abc", "99999999999999999999", "4194305"}) {
    FILE* in = post("a=1", length);
    fail_allocations_after(0);  // any allocation would turn the answer into -8
    FormInput form;
    EXPECT_EQ(form.parse(in), ERR_INP) << '"' << length << '"';
    fail_allocations_after(-1);
  }
  for (const char* length : {"3", " 3", "+3", "3 ", "4194304"}) {
    FILE* in = post("a=1", length);
    FormInput form;
    EXPECT_EQ(form.parse(in), 0) << '"' << length << '"';
    EXPECT_EQ(form.count, 1) << '"' << length << '"';
  }
}

TEST_F(FormInputTest, PostWithEmptyBody) {
  FILE* in = post("", "0");
  FormInput form;
  EXPECT_EQ(form.parse(in), 0);
  EXPECT_EQ(form.count, 0);
}

TEST_F(FormInputTest, OutOfMemoryKeepsWhatWasStored) {
  for (int allowed = 0; allowed < 3; ++allowed) {  // the input, the names, the values
    set_get("a=1&b=2&c=3");
    FormInput form;
    fail_allocations_after(allowed);
    int status = form.parse();
    fail_allocations_after(-1);
    EXPECT_EQ(status, ERR_MEM) << allowed;
    EXPECT_LE(form.count, 3);
    for (int i = 0; i < form.count; ++i) EXPECT_NE(form.values[i], nullptr);
  }
  FILE* in = post("a=1");
  fail_allocations_after(0);
  FormInput form;
  EXPECT_EQ(form.parse(in), ERR_MEM);
}

}  // namespace
