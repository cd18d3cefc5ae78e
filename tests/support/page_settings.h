#ifndef QM_TESTS_PAGE_SETTINGS_H
#define QM_TESTS_PAGE_SETTINGS_H

#include <string>

#include "core/html_writer.h"
#include "support/capture.h"

// Gives the page writer a known static-file prefix and row attribute for the life
// of the object, so that expected pages can be written out in full.
class PageSettings {
 public:
  PageSettings(const char* prefix, const char* row_attribute)
      : prefix_(html.prefix), row_attribute_(html.row_attribute) {
    html.prefix = prefix;
    html.row_attribute = row_attribute;
  }
  ~PageSettings() {
    html.prefix = prefix_;
    html.row_attribute = row_attribute_;
  }
  PageSettings(const PageSettings&) = delete;
  PageSettings& operator=(const PageSettings&) = delete;

 private:
  const char* prefix_;
  const char* row_attribute_;
};

// A section's title bar as the page writer writes it.
inline std::string title_bar(const char* title, const char* help_code) {
  PageCapture page;
  html.section_title(title, help_code);
  return page.text();
}

#endif
