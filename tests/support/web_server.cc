#include "support/web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/file_text.h"

namespace {

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A port that nothing listens on right now.
int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string HttpResponse::header(const std::string& name) const {
  std::istringstream lines(headers);
  std::string line;
  const std::string wanted = lower(name) + ":";
  while (std::getline(lines, line)) {
    if (lower(line.substr(0, wanted.size())) != wanted) continue;
    std::string value = line.substr(wanted.size());
    while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    return value;
  }
  return "";
}

HttpResponse http_request(int port, const HttpRequest& request) {
  HttpResponse response;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return response;
  timeval timeout{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (!request.source_address.empty()) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, request.source_address.c_str(), &source.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
      close(fd);
      return response;
    }
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    close(fd);
    return response;
  }
  std::string text = request.method + " " + request.target + " HTTP/1.0\r\n";
  text += "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  if (!request.user_agent.empty()) text += "User-Agent: " + request.user_agent + "\r\n";
  if (!request.referer.empty()) text += "Referer: " + request.referer + "\r\n";
  if (!request.body.empty() || request.method == "POST") {
    text += "Content-Type: application/x-www-form-urlencoded\r\n";
    text += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
  }
  text += "Connection: close\r\n\r\n" + request.body;
  for (std::size_t sent = 0; sent < text.size();) {
    // A server may refuse a large body and close before it is all sent: no SIGPIPE.
    ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  std::string answer;
  char buffer[8192];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  close(fd);

  std::size_t end = answer.find("\r\n\r\n");
  if (answer.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) return response;
  response.headers = answer.substr(0, end + 2);
  response.body = answer.substr(end + 4);
  response.status = std::atoi(answer.c_str() + answer.find(' ') + 1);
  return response;
}

std::string form_body(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    out += name + '=';
    for (unsigned char c : value) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
        out += static_cast<char>(c);
      } else {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        out += escaped;
      }
    }
  }
  return out;
}

// Found when the build was configured.
std::string apache_program() { return QM_APACHE2; }
std::string lighttpd_program() { return QM_LIGHTTPD; }

ServedInstallation::~ServedInstallation() {
  stop_daemon(apache_);
  stop_server();
  if (!prefix_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(prefix_, ignored);
  }
}

bool ServedInstallation::start(const std::string& password) {
  password_ = password;
  std::string pattern = (std::filesystem::temp_directory_path() / "qm-served-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error_ = "no temporary folder";
    return false;
  }
  prefix_ = pattern;
  // Open to the web server's user on the way to the document root, and no further.
  chmod(prefix_.c_str(), 0711);
  // As root the programs run as the web server's user of a Debian system, as in a
  // real installation; otherwise as the user who runs the tests.
  if (geteuid() == 0) {
    web_user_ = "www-data";
  } else if (passwd* me = getpwuid(geteuid())) {
    web_user_ = me->pw_name;
  }
  // A port can be taken between the look and the start: then another is tried.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = free_port();
    if (!install()) return false;
    if (start_server()) return true;
  }
  return false;
}

bool ServedInstallation::install() {
  std::string log = prefix_ + "/install.log";
  std::string command = "bash " + shell_quoted(std::string(QM_SOURCE_DIR) + "/scripts/install.sh") + " --prefix " +
                        shell_quoted(prefix_) + " --password " + shell_quoted(password_) + " --user " + shell_quoted(web_user_) +
                        " --port " + std::to_string(port_) + " --build " + shell_quoted(QM_BIN_DIR) + " >" +
                        shell_quoted(log) + " 2>&1";
  if (std::system(command.c_str()) != 0) {
    error_ = "install.sh failed:\n" + file_text(log);
    return false;
  }
  return true;
}

namespace {

// Starts a server in the foreground of a child process, its output in the log; its
// process id once it accepts connections on the port, else -1 with the reason.
pid_t start_daemon(const std::vector<std::string>& command, const std::string& log, int port, std::string* error) {
  pid_t pid = fork();
  if (pid < 0) {
    *error = "fork failed";
    return -1;
  }
  if (pid == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < 100; ++i) {
    if (accepts(port)) return pid;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      *error = command[0] + " ended at its start:\n" + file_text(log);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *error = command[0] + " does not answer:\n" + file_text(log);
  stop_daemon(pid);
  return -1;
}

}  // namespace

void stop_daemon(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

bool ServedInstallation::start_server() {
  server_ = start_daemon({lighttpd_program(), "-D", "-f", prefix_ + "/lighttpd/server.conf"},
                         prefix_ + "/lighttpd/stderr.log", port_, &error_);
  return server_ > 0;
}

void ServedInstallation::stop_server() {
  stop_daemon(server_);
  server_ = -1;
}

namespace {

// The README's Apache lines of one form (its indented blocks that start with
// "DocumentRoot": the one with "Include" or the one with "AllowOverride"), for this
// installation in place of the README's /srv/quillmoray, so that the tests serve
// exactly what the README shows; "" when the README has no such block.
std::string readme_apache_lines(const char* wanted, const std::string& prefix) {
  std::istringstream readme(file_text(std::string(QM_SOURCE_DIR) + "/README.md"));
  const std::string indent(6, ' ');
  std::string block;
  for (std::string line; std::getline(readme, line) || !block.empty();) {
    if (line.compare(0, indent.size(), indent) == 0) {
      block += line.substr(indent.size()) + "\n";
      continue;
    }
    if (block.rfind("DocumentRoot ", 0) == 0 && block.find(wanted) != std::string::npos) {
      for (std::size_t at; (at = block.find("/srv/quillmoray")) != std::string::npos;) {
        block.replace(at, 15, prefix);
      }
      return block;
    }
    block.clear();
    if (!readme) break;
  }
  return "";
}

}  // namespace

int ServedInstallation::start_apache(ApacheRules rules) {
  stop_daemon(apache_);
  const std::string root = prefix_ + "/apache-server";
  std::filesystem::create_directories(root);
  const int port = free_port();
  const std::string modules = "/usr/lib/apache2/modules/";
  std::ofstream conf(root + "/httpd.conf");
  conf << "ServerRoot " << root << "\nServerName 127.0.0.1\nListen 127.0.0.1:" << port << "\n"
       << "PidFile " << root << "/httpd.pid\nErrorLog " << root << "/error.log\n";
  for (const char* module : {"mpm_prefork", "authz_core", "mime", "dir", "cgi"}) {
    conf << "LoadModule " << module << "_module " << modules << "mod_" << module << ".so\n";
  }
  if (geteuid() == 0) conf << "User " << web_user_ << "\nGroup " << web_user_ << "\n";
  // As Debian ships it: nothing is served nor read from .htaccess files unless a
  // folder is named; the site's lines are the README's.
  conf << "TypesConfig /etc/mime.types\n"
       << "<Directory />\n  Options FollowSymLinks\n  AllowOverride None\n  Require all denied\n</Directory>\n";
  const std::string site = readme_apache_lines(rules == ApacheRules::htaccess ? "AllowOverride" : "Include", prefix_);
  if (site.empty()) {
    error_ = "README.md shows no Apache lines for this form";
    return 0;
  }
  conf << "<VirtualHost 127.0.0.1:" << port << ">\n" << site << "</VirtualHost>\n";
  conf.close();
  apache_ = start_daemon({apache_program(), "-X", "-f", root + "/httpd.conf"}, root + "/stderr.log", port, &error_);
  return apache_ > 0 ? port : 0;
}

HttpResponse ServedInstallation::get(const std::string& target) const {
  HttpRequest request;
  request.target = target;
  return send(request);
}

HttpResponse ServedInstallation::post(const std::string& target, const std::string& body) const {
  HttpRequest request;
  request.method = "POST";
  request.target = target;
  request.body = body;
  return send(request);
}

bool ServedInstallation::wait_for_status(const std::string& text, int seconds) const {
  for (int i = 0; i < seconds * 10; ++i) {
    std::string page = read("status.html");
    if (page.find(text) != std::string::npos) return true;
    if (page.find("<b>ERROR:</b>") != std::string::npos) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::string ServedInstallation::read(const std::string& relative) const { return file_text(folder() + "/" + relative); }

void ServedInstallation::write(const std::string& relative, const std::string& content) const {
  std::string path = folder() + "/" + relative;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  // A file the test makes for the programs belongs to their user, as theirs would.
  if (geteuid() == 0) {
    if (passwd* user = getpwnam(web_user_.c_str())) {
      if (chown(path.c_str(), user->pw_uid, user->pw_gid) != 0) return;
    }
  }
}

bool ServedInstallation::exists(const std::string& relative) const {
  return access((folder() + "/" + relative).c_str(), F_OK) == 0;
}

std::string output_of(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}
