#include "core/html_writer.h"

const char kHomePageAddress[] = "http://www.quillmoray.example";
const char kRowHighlightAttribute[] = " onMouseOver=\"bgc(this,0)\" onmouseout=\"bgc(this,1)\"";

HtmlWriter html;
