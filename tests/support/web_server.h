#ifndef QM_TESTS_WEB_SERVER_H
#define QM_TESTS_WEB_SERVER_H

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// A real installation, laid out by scripts/install.sh from this build into a fresh
// temporary folder and served by a lighttpd of its own on a free port of
// 127.0.0.1, which is stopped by its process id when the object goes.

struct HttpResponse {
  int status = 0;  // 0 when no answer came
  std::string headers;
  std::string body;
  // The value of a header ("" when absent); the name is compared without case.
  std::string header(const std::string& name) const;
};

struct HttpRequest {
  std::string method = "GET";
  std::string target;  // path and query, sent as written
  std::string body;    // sent as a url-encoded form when not empty (or when POST)
  std::string referer;
  std::string user_agent = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                           "Chrome/120.0.0.0 Safari/537.36";
  std::string source_address;  // the client's loopback address, e.g. "127.0.0.5"
};

HttpResponse http_request(int port, const HttpRequest& request);

// "a=1&b=x%20y": the fields url-encoded in the given order.
std::string form_body(const std::vector<std::pair<std::string, std::string>>& fields);

// The lighttpd and Apache programs, or "" when they are not installed.
std::string lighttpd_program();
std::string apache_program();

// What the shell command prints (standard output and error), with its exit status.
std::string output_of(const std::string& command, int* status);

// Stops a server by its process id: SIGTERM, then SIGKILL if it lingers.
void stop_daemon(pid_t pid);

class ServedInstallation {
 public:
  ServedInstallation() = default;
  ~ServedInstallation();
  ServedInstallation(const ServedInstallation&) = delete;
  ServedInstallation& operator=(const ServedInstallation&) = delete;

  // Installs with the password and starts the server; false with the reason in
  // error() when something failed.
  bool start(const std::string& password);
  const std::string& error() const { return error_; }

  int port() const { return port_; }
  const std::string& prefix() const { return prefix_; }
  // The installation folder: the programs, data/ and the static files.
  std::string folder() const { return prefix_ + "/www/quillmoray"; }
  std::string site() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string url() const { return site() + "/quillmoray"; }
  // The user the programs run as.
  const std::string& web_user() const { return web_user_; }

  HttpResponse get(const std::string& target) const;
  HttpResponse post(const std::string& target, const std::string& body) const;
  HttpResponse send(HttpRequest request) const { return http_request(port_, request); }

  // Runs the install step again (the settings and statistics stay).
  bool install();

  // Serves the same installation with Apache as well (in place of an Apache started
  // before), configured as Debian ships it plus the README's lines of the form: the
  // rules of the folder's .htaccess files, or those of the installation's
  // apache/quillmoray.conf; the port, or 0 with the reason in error().
  enum class ApacheRules { htaccess, server_configuration };
  int start_apache(ApacheRules rules);

  // Waits until the status page holds the text (or an error page); false on timeout.
  bool wait_for_status(const std::string& text, int seconds) const;

  std::string read(const std::string& relative) const;
  void write(const std::string& relative, const std::string& content) const;
  bool exists(const std::string& relative) const;

 private:
  bool start_server();
  void stop_server();

  std::string prefix_;
  std::string password_;
  std::string web_user_;
  std::string error_;
  int port_ = 0;
  pid_t server_ = -1;
  pid_t apache_ = -1;
};

#endif
