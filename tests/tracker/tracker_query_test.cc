#include "tracker/tracker_query.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string decoded(std::string text) {
  text.push_back('\0');
  url_decode(&text[0]);
  return std::string(text.c_str());
}

}  // namespace

TEST(TrackerQuery, DirThenRef) {
  TrackerQuery q;
  read_tracker_query(q, "dir=http://site/qm&ref=http%3A%2F%2Fa.com%2F&x=1");
  ASSERT_NE(q.dir, nullptr);
  ASSERT_NE(q.ref, nullptr);
  EXPECT_STREQ(q.dir, "http://site/qm");
  // The ref value runs to the end of the copy, further keys included.
  EXPECT_STREQ(q.ref, "http%3A%2F%2Fa.com%2F&x=1");
}

TEST(TrackerQuery, RefThenDir) {
  TrackerQuery q;
  read_tracker_query(q, "ref=abc&dir=http://site/qm&x=1");
  EXPECT_STREQ(q.ref, "abc");
  EXPECT_STREQ(q.dir, "http://site/qm&x=1");
}

TEST(TrackerQuery, MissingAndEmptyKeys) {
  TrackerQuery q;
  read_tracker_query(q, nullptr);
  EXPECT_EQ(q.dir, nullptr);
  EXPECT_EQ(q.ref, nullptr);

  TrackerQuery empty;
  read_tracker_query(empty, "dir=&ref=");
  ASSERT_NE(empty.dir, nullptr);
  ASSERT_NE(empty.ref, nullptr);
  EXPECT_STREQ(empty.dir, "");
  EXPECT_STREQ(empty.ref, "");
}

TEST(TrackerQuery, KeyFoundInsideAnotherValue) {
  TrackerQuery q;
  // The first "ref=" stands inside the dir value.
  read_tracker_query(q, "dir=http://s/?ref=1&ref=2");
  EXPECT_STREQ(q.dir, "http://s/?ref=1");
  EXPECT_STREQ(q.ref, "1");
}

TEST(TrackerQuery, OnlyTheFirst255CharactersCount) {
  std::string query = "dir=d&ref=" + std::string(245, 'r');  // 255 characters
  TrackerQuery whole;
  read_tracker_query(whole, (query + "TAIL").c_str());
  EXPECT_EQ(std::string(whole.ref), std::string(245, 'r'));

  TrackerQuery late;
  read_tracker_query(late, (std::string(252, 'x') + "dir=d&ref=r").c_str());
  EXPECT_EQ(late.dir, nullptr);  // starts at 252, cut after "dir"
  EXPECT_EQ(late.ref, nullptr);
}

TEST(UrlDecode, Escapes) {
  EXPECT_EQ(decoded("http%3A%2F%2Fa.com%2Fx%3Fq%3D1"), "http://a.com/x?q=1");
  EXPECT_EQ(decoded("a+b%20c"), "a+b c");  // "+" stays
  EXPECT_EQ(decoded("%41%6a"), "Aj");
  EXPECT_EQ(decoded("plain"), "plain");
  EXPECT_EQ(decoded(""), "");
}

TEST(UrlDecode, Quirks) {
  EXPECT_EQ(decoded("ab%zzcd"), "ab");   // not hexadecimal: byte 0 ends the value
  EXPECT_EQ(decoded("ab%4zcd"), "ab\x04" "cd");  // one digit: its value, both consumed
  EXPECT_EQ(decoded("ab%4"), "ab\x04");   // trailing "%4"
  EXPECT_EQ(decoded("ab%"), "ab");         // trailing "%": byte 0
  EXPECT_EQ(decoded("%ff%FF"), "\xff\xff");
}

TEST(UrlDecode, KeepsOnlyWhatTheFirst511CharactersGive) {
  std::string text = std::string(600, 'a');
  EXPECT_EQ(decoded(text), std::string(511, 'a'));
  std::string escapes;
  for (int i = 0; i < 200; ++i) escapes += "%41";  // 600 characters
  // 170 whole escapes fit in 510 characters; the 171st has only its "%".
  EXPECT_EQ(decoded(escapes), std::string(170, 'A'));
}
