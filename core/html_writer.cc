#include "core/html_writer.h"

HtmlWriter html;
