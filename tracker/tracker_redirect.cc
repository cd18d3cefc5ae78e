#include "tracker/tracker_redirect.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr char kImage[] = "/imgs/i.gif";

// A host and port made comparable: the host in lower case without a trailing dot
// (the same name to the resolver), the port -1 when none is given.
struct Authority {
  std::string host;
  long port = -1;
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return lower(c) >= 'a' && lower(c) <= 'z'; }
bool is_hex_digit(char c) { return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'f'); }

// "host", "host:port", "[IPv6]" or "[IPv6]:port"; false for anything else: userinfo
// ("user@host"), blanks, an IPv6 address without brackets, a port that is not 1 to
// 5 digits ("host:" counts as no port).
bool parse_authority(std::string_view text, Authority& out) {
  std::size_t host_end;
  if (!text.empty() && text[0] == '[') {
    host_end = text.find(']');
    if (host_end == std::string_view::npos || host_end < 2) return false;
    for (std::size_t i = 1; i < host_end; ++i) {
      if (!is_hex_digit(text[i]) && text[i] != ':' && text[i] != '.') return false;
    }
    ++host_end;
  } else {
    host_end = std::min(text.find(':'), text.size());
    if (host_end == 0) return false;
    for (std::size_t i = 0; i < host_end; ++i) {
      const char c = text[i];
      if (!is_letter(c) && !is_digit(c) && c != '-' && c != '.' && c != '_') return false;
    }
  }
  out.host.clear();
  for (std::size_t i = 0; i < host_end; ++i) out.host += lower(text[i]);
  if (out.host.size() > 1 && out.host.back() == '.') out.host.pop_back();
  out.port = -1;
  std::string_view rest = text.substr(host_end);
  if (rest.empty()) return true;
  if (rest[0] != ':' || rest.size() > 6) return false;
  if (rest.size() > 1) out.port = 0;
  for (char c : rest.substr(1)) {
    if (!is_digit(c)) return false;
    out.port = out.port * 10 + (c - '0');
  }
  return true;
}

long default_port(bool https) { return https ? 443 : 80; }

// The same host, and the same port where either gives one (a port left out is the
// scheme's own); two addresses without ports match whatever their schemes, so a
// page served over https behind a proxy that speaks http keeps its dir.
bool same_place(const Authority& a, bool a_https, const Authority& b, bool b_https) {
  if (a.host != b.host) return false;
  if (a.port < 0 && b.port < 0) return true;
  return (a.port >= 0 ? a.port : default_port(a_https)) == (b.port >= 0 ? b.port : default_port(b_https));
}

// The request's "host[:port]": HTTP_HOST when it is one, else SERVER_NAME with
// SERVER_PORT when that is not the scheme's default; "" when neither names one.
std::string request_authority(const RequestPlace& request, Authority& parsed) {
  if (request.http_host && parse_authority(request.http_host, parsed)) return request.http_host;
  if (!request.server_name || !*request.server_name) return "";
  std::string name = request.server_name;
  if (name.find(':') != std::string::npos && name[0] != '[') name = "[" + name + "]";
  const std::string port = request.server_port ? request.server_port : "";
  if (!port.empty() && port != std::to_string(default_port(request.https))) name += ":" + port;
  return parse_authority(name, parsed) ? name : "";
}

// The address of an absolute http or https dir and its scheme; false for any other
// dir, or one with "?", "#", "\" or a control byte anywhere.
bool dir_authority(std::string_view dir, Authority& out, bool& https) {
  for (unsigned char c : dir) {
    if (c < 0x20 || c == 0x7F || c == '?' || c == '#' || c == '\\') return false;
  }
  std::size_t start;
  if (dir.size() >= 7 && strncasecmp(dir.data(), "http://", 7) == 0) {
    start = 7;
    https = false;
  } else if (dir.size() >= 8 && strncasecmp(dir.data(), "https://", 8) == 0) {
    start = 8;
    https = true;
  } else {
    return false;
  }
  const std::size_t end = std::min(dir.find('/', start), dir.size());
  return parse_authority(dir.substr(start, end - start), out);
}

// The folder of the tracker's own path ("" for the top), with one leading "/" and
// %XX for every byte that an address path does not hold as it is.
std::string own_folder(const char* script_name) {
  std::string_view path = script_name ? script_name : "";
  const std::size_t slash = path.rfind('/');
  path = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
  while (!path.empty() && path[0] == '/') path.remove_prefix(1);
  if (path.empty()) return "";
  std::string out = "/";
  for (char c : path) {
    if (is_letter(c) || is_digit(c) || (c != '\0' && std::strchr("-._~!$&'()*+,;=:@/", c))) {
      out += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      out += escaped;
    }
  }
  return out;
}

}  // namespace

RequestPlace request_place_from_environment() {
  RequestPlace place;
  place.http_host = std::getenv("HTTP_HOST");
  place.server_name = std::getenv("SERVER_NAME");
  place.server_port = std::getenv("SERVER_PORT");
  place.script_name = std::getenv("SCRIPT_NAME");
  const char* https = std::getenv("HTTPS");
  place.https = https && strcasecmp(https, "on") == 0;
  return place;
}

std::string image_location(const char* dir, const RequestPlace& request) {
  Authority own;
  const std::string authority = request_authority(request, own);
  Authority target;
  bool target_https = false;
  if (dir && !authority.empty() && dir_authority(dir, target, target_https) &&
      same_place(target, target_https, own, request.https)) {
    return dir + std::string(kImage);
  }
  const std::string folder = own_folder(request.script_name) + kImage;
  if (authority.empty()) return folder;
  return (request.https ? "https://" : "http://") + authority + folder;
}
