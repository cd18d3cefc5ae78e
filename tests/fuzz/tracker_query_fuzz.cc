// The tracker's request: the query read and its referrer decoded, the page taken
// from the referrer header and the hit line made of them. Every line the tracker
// writes must be one line that the log parser splits into the same fields.
//
// The redirect's address is one header value that leads to the request's own host
// or to the dir given.
//
// Input parts: QUERY_STRING, HTTP_REFERER, REMOTE_ADDR, the host name,
// HTTP_USER_AGENT, HTTP_HOST; each is cut at its first NUL as an environment text
// is, and a missing one is unset.

#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "parser/log_format.h"
#include "parser/log_parser.h"
#include "tracker/hit_line.h"
#include "tracker/tracker_query.h"
#include "tracker/tracker_redirect.h"

namespace {

std::string text_of(const std::string* part, const char* missing) {
  return part ? std::string(part->c_str()) : std::string(missing);
}

void expect(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::start_input(ProgramBuild::parser);
  const std::vector<std::string> parts = fuzz::split_parts(data, size);

  static TrackerQuery query;
  read_tracker_query(query, parts[0].c_str());
  RequestPlace place;
  const std::string http_host = text_of(fuzz::part(parts, 5), "");
  place.http_host = fuzz::part(parts, 5) ? http_host.c_str() : nullptr;
  place.script_name = "/qm/tracker.cgi";
  const std::string location = image_location(query.dir, place);
  for (unsigned char byte : location) expect(byte >= 0x20 && byte != 0x7F);
  const bool own = location == "/qm/imgs/i.gif" || location == "http://" + http_host + "/qm/imgs/i.gif";
  const std::string scheme_and_host = location.substr(0, location.find('/', location.find("://") + 3));
  expect(own || (query.dir && location == std::string(query.dir) + "/imgs/i.gif" &&
                 strncasecmp(query.dir, "http", 4) == 0 && scheme_and_host.find('@') == std::string::npos));
  if (!query.dir || !*query.dir || !query.ref) return 0;

  const std::string referer = text_of(fuzz::part(parts, 1), "-");
  const std::string address = text_of(fuzz::part(parts, 2), "-");
  const std::string host = text_of(fuzz::part(parts, 3), address.c_str());
  const std::string agent = text_of(fuzz::part(parts, 4), "-");
  HitLine hit;
  hit.time = TrackerTime{2003, 1, 7, 12, 0, 0};
  hit.address = address.c_str();
  hit.host = host.c_str();
  hit.page = page_from_referer(referer.c_str());
  if (*query.ref) {
    url_decode(query.ref);
    hit.referrer = query.ref;
  }
  hit.user_agent = agent.c_str();
  std::string line = format_hit_line(hit);

  // One line: its only control byte is the line feed that ends it.
  expect(!line.empty() && line.back() == '\n');
  line.pop_back();
  for (unsigned char byte : line) expect(byte >= 0x20 && byte != 0x7F);

  static LogParser parser;
  static bool compiled = compile_format(parser) == 0;
  expect(compiled);
  expect(split_line(parser, &line[0]) == 0);
  LineTime time;
  expect(read_line_time(parser, &time) == 0);
  expect(time.year == 2003 && time.month == 1 && time.day == 7 && time.hour == 12);
  expect(log_field(hit.address, kMaxAddressField, true) == parser.values[LETTER_ADDRESS]);
  expect(log_field(hit.host, kMaxHostField) == parser.values[LETTER_HOST]);
  expect(log_field(hit.page, kMaxPageField) == parser.values[LETTER_PAGE]);
  expect(log_field(hit.referrer, kMaxReferrerField) == parser.values[LETTER_REFERRER]);
  expect(log_field(hit.user_agent, kMaxUserAgentField) == parser.values[LETTER_AGENT]);

  // The decoder alone, on a text longer than the query copy.
  std::string long_text = parts.back().c_str();
  url_decode(&long_text[0]);
  return 0;
}
