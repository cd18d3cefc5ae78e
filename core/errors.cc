#include "core/errors.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/bounded_format.h"
#include "core/text.h"

namespace {

// Address of the product's own web site, behind the links of two messages, which
// open in a window of their own that gets no hold on the page that opened it.
#define QM_PRODUCT_SITE "http://www.quillmoray.example"
#define QM_OUTSIDE_WINDOW " target=qmy rel=\"noopener noreferrer\">"

struct ErrorEntry {
  int code;
  const char* name;
  const char* message;
};

const ErrorEntry kErrors[] = {
    {ERR_EDB, "ERR_EDB",
     "Empty Quillmoray database. In order for the program to generate any reports you first need to "
     "instruct it to parse your server's log file. Once the program successfully completes the parsing "
     "try this again."},
    {ERR_FIL, "ERR_FIL",
     "Failed to open input / output file(s). Make sure that you are not missing any installation "
     "files, and that you have set file permissions according to the installation instructions."},
    {ERR_FRM, "ERR_FRM",
     "Unspecified or invalid log file format. Please specify the format and try again. For more info "
     "on log file formats <a href=" QM_PRODUCT_SITE "/v30/formats.htm" QM_OUTSIDE_WINDOW "<b>click here</b></a>."},
    {ERR_LOG, "ERR_LOG",
     "Empty or missing Quillmoray log file. Please make sure you have added the tracking code to your "
     "pages, and that it is functioning properly. Refer to the installation instructions or <a href=" QM_PRODUCT_SITE
     "/v30/faq.htm" QM_OUTSIDE_WINDOW "<b>FAQ list</b></a> if the problem persists."},
    {ERR_INP, "ERR_INP", "Invalid program input. Please use only the forms provided to input data."},
    {ERR_MEM, "ERR_MEM",
     "Memory allocation error. Please try again or contact server administrator if the problem persists."},
    {ERR_PSW, "ERR_PSW", "Invalid program password. Please use <b>Back</b> button to correct the problem."},
    {ERR_PMM, "ERR_PMM",
     "New and confirmed passwords do not match. Please use <b>Back</b> button to correct the problem."},
    {ERR_DIR, "ERR_DIR",
     "Failed to create files in the data folder. The data folder must be writable by the web server's user: "
     "make sure that you have set file permissions according to the installation instructions. Nothing has "
     "been parsed or changed."},
    {ERR_RMV, "ERR_RMV",
     "The hit log cannot be removed. Its hits have been counted and will not be counted again, but the file "
     "keeps growing. Make sure that the web server's user can remove files in the data folder."},
    {ERR_TMP, "ERR_TMP",
     "Damaged Quillmoray state file (data/tmp.log). Nothing has been parsed, and the state file and the log "
     "file have been kept as they are. Please restore the state file from a backup or contact server "
     "administrator."},
    {ERR_POS, "ERR_POS",
     "The place where the last parse stopped in the log file was lost (data/pos.log is missing or damaged), so "
     "the hits already counted were told by their times: a hit not counted yet that was stamped in the last "
     "second counted or earlier has been passed over."},
};

const ErrorEntry* find_error(int code) {
  for (const ErrorEntry& entry : kErrors) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

// A client's value as one field of the log line: "na" when unset, control bytes
// (a line feed in a user agent, say) written as %XX so a line stays one line.
void put_client_field(std::string& line, const char* name) {
  const char* value = std::getenv(name);
  if (!value) value = "na";
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(value); *at; ++at) {
    if (*at < 0x20 || *at == 0x7F) {
      char escape[4];
      format_into(escape, sizeof escape, "%%%02X", *at);
      line += escape;
    } else {
      line += static_cast<char>(*at);
    }
  }
}

}  // namespace

const char* error_name(int code) {
  const ErrorEntry* entry = find_error(code);
  return entry ? entry->name : "";
}

const char* error_message(int code) {
  const ErrorEntry* entry = find_error(code);
  return entry ? entry->message : "";
}

void append_error_log(int code, const char* tag) {
  if (code == 0) return;
  char stamp[64];
  format_into(stamp, sizeof stamp, "%2.2i/%2.2i/%4.4i %2.2i:%2.2i:%2.2i ", today.month, today.day, today.year,
              today.hour, today.minute, today.second);
  std::string line = stamp;
  line += error_name(code);
  line += ' ';
  line += tag;
  line += ' ';
  put_client_field(line, "REMOTE_ADDR");
  line += ' ';
  put_client_field(line, "HTTP_USER_AGENT");
  line += '\n';
  // Append only: falling back to "w" would empty a log that exists but is not writable.
  append_to_error_log(line);
}
