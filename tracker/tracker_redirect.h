#ifndef QM_TRACKER_TRACKER_REDIRECT_H
#define QM_TRACKER_TRACKER_REDIRECT_H

#include <string>

// Where the request came to, from the CGI environment (null: unset).
struct RequestPlace {
  const char* http_host = nullptr;    // HTTP_HOST: "host[:port]" as the browser sent it
  const char* server_name = nullptr;  // SERVER_NAME
  const char* server_port = nullptr;  // SERVER_PORT
  const char* script_name = nullptr;  // SCRIPT_NAME: the tracker's own path
  bool https = false;                 // HTTPS is "on"
};

// The request's place as the web server passes it to the program.
RequestPlace request_place_from_environment();

// The address of the image the tracker answers with: "<dir>/imgs/i.gif" when `dir`
// (null: none) is an absolute http or https address on the request's own host and
// port, without userinfo, "?", "#", "\" or control bytes; else the image of the
// tracker's own folder on the request's host ("http[s]://host[:port]/folder/imgs/i.gif",
// or "/folder/imgs/i.gif" when the request names no usable host). So the tracker
// never sends a browser to another site, and the address never holds a line break.
std::string image_location(const char* dir, const RequestPlace& request);

#endif
