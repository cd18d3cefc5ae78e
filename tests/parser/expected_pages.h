#ifndef QM_TESTS_PARSER_EXPECTED_PAGES_H
#define QM_TESTS_PARSER_EXPECTED_PAGES_H

// The parser's error page for invalid program input, byte for byte.
constexpr const char kInputErrorPage[] =
    "<html>\n<head>\n<meta http-equiv=pragma content=no-cache>\n"
    "<link rel=stylesheet type=text/css href=styles.css>\n<title>Error</title>\n</head>\n"
    "<body bgcolor=#efefef text=#000000 link=#0000ff vlink=#0000ff>\n<table width=100% height=100%>\n"
    "<tr valign=center><td>\n<p class=err><font color=#ff0000><b>ERROR:</b></font> Invalid program "
    "input. Please use only the forms provided to input data.</p>\n"
    "<center><a href=# onClick=\"window.close()\"><b>close window</b></a></center>\n"
    "</td></tr>\n</table>\n</body>\n</html>\n";

#endif
