#ifndef QM_CORE_HTML_WRITER_H
#define QM_CORE_HTML_WRITER_H

// The page writer: the one object through which report pages are written.
class HtmlWriter {
 public:
  const char* prefix = "";         // URL prefix of the static files (not owned)
  const char* row_attribute = "";  // attribute text inside every data row's <tr> (not owned)
};

// The global page writer.
extern HtmlWriter html;

#endif
