// Form input: the same text as the query string of a GET request and as the body
// of a POST request whose announced length may lie, then every getter, and the
// posted configuration form applied and shown.
//
// Input: CONTENT_LENGTH, separator, the query string / body; without a separator
// the whole input is the query string / body and no length is announced.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/ad_campaigns.h"
#include "core/config.h"
#include "core/form_input.h"
#include "core/html_writer.h"
#include "fuzz_support.h"

namespace {

// A read stream over the text; /dev/null for an empty one.
FILE* stream_of(const std::string& text) {
  if (text.empty()) return std::fopen("/dev/null", "r");
  return fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

// Every getter on a name the form has, on one it lacks and on the report's fields.
void read_fields(const FormInput& form) {
  std::vector<std::string> names{"pass", "type", "ys", "FRM", "LOG", "", "no such field"};
  for (int i = 0; i < form.count && i < 16; ++i) names.emplace_back(form.names[i]);
  for (const std::string& name : names) {
    char* copy = nullptr;
    if (form.get_string(name.c_str(), copy) == 0) std::free(copy);
    char small[10];
    form.get_into(name.c_str(), small, sizeof small);
    int number = 0;
    form.get_int(name.c_str(), number);
    bool flag = false;
    form.get_flag(name.c_str(), flag);
    int numbers[4] = {};
    form.get_ints(name.c_str(), numbers, 4);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::start_input(ProgramBuild::report);
  const std::vector<std::string> parts = fuzz::split_parts(data, size);
  const std::string* length = parts.size() > 1 ? &parts[0] : nullptr;
  const std::string& body = parts.size() > 1 ? parts[1] : parts[0];

  setenv("REQUEST_METHOD", "GET", 1);
  fuzz::set_env("QUERY_STRING", body);
  {
    FormInput form;
    if (form.parse() == 0) read_fields(form);
  }

  setenv("REQUEST_METHOD", "POST", 1);
  setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
  if (length) {
    fuzz::set_env("CONTENT_LENGTH", *length);
  } else {
    unsetenv("CONTENT_LENGTH");
  }
  FILE* input = stream_of(body);
  if (!input) std::abort();
  {
    FormInput form;
    if (form.parse(input) == 0) read_fields(form);
  }
  std::fclose(input);

  // The configuration page posted back: a campaign table to rebuild, then the page.
  input = stream_of(body);
  if (!input) std::abort();
  config.campaigns = new AdCampaigns();
  config.campaigns->add("Spring");
  config.campaigns->add_pattern("spring.example");
  config.apply_form(input);
  std::fclose(input);
  html.config_form(config);
  html.log_settings(config);
  return 0;
}
