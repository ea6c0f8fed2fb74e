// The simulator's HTTP side, as pure functions: request parsing, the
// HTTP-mode body decoder and the replies. sim.cpp's connection threads call
// them; nothing here touches a socket.
#include "sim_http.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHeadersMax = 65536;
constexpr int64_t kBodyMax = 4 << 20;

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

int hex_digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // the client writes upper case only
}

}  // namespace

bool sim_http_looks_like_request(const uint8_t* p, size_t n) {
  static const char* const kMethods[] = {"GET ", "POST ", "HEAD "};
  for (const char* m : kMethods) {
    size_t k = strlen(m);
    if (memcmp(p, m, std::min(n, k)) == 0) return true;
  }
  return false;
}

int64_t sim_http_parse_request(const uint8_t* p, size_t n, sim_http_request* out) {
  const char* text = reinterpret_cast<const char*>(p);
  size_t end = 0;
  for (size_t i = 0; i + 1 < n; i++) {
    if (p[i] != '\n') continue;
    if (p[i + 1] == '\n') { end = i + 2; break; }
    if (i + 2 < n && p[i + 1] == '\r' && p[i + 2] == '\n') { end = i + 3; break; }
  }
  if (end == 0) return n > kHeadersMax ? -1 : 0;
  std::string headers(text, end);
  size_t sp1 = headers.find(' ');
  size_t sp2 = sp1 == std::string::npos ? sp1 : headers.find(' ', sp1 + 1);
  size_t eol = headers.find_first_of("\r\n");
  if (sp2 == std::string::npos || sp2 > eol) return -1;
  int64_t length = 0;
  for (size_t line = eol; line < headers.size();) {
    line = headers.find('\n', line);
    if (line == std::string::npos) break;
    line++;
    if (strncasecmp(headers.c_str() + line, "Content-Length:", 15) == 0) {
      length = strtoll(headers.c_str() + line + 15, nullptr, 10);
      if (length < 0 || length > kBodyMax) return -1;
    }
  }
  if (n < end + size_t(length)) return 0;
  out->method = headers.substr(0, sp1);
  out->target = headers.substr(sp1 + 1, sp2 - sp1 - 1);
  out->path = out->target;
  if (strncasecmp(out->path.c_str(), "http://", 7) == 0) {
    size_t slash = out->path.find('/', 7);
    out->path = slash == std::string::npos ? "/" : out->path.substr(slash);
  }
  out->headers = headers;
  out->body.assign(p + end, p + end + length);
  return int64_t(end) + length;
}

bool sim_http_decode_body(const std::vector<uint8_t>& body, sim_http_body* out) {
  const size_t n = body.size();
  if (n < 2 + 24 + 4 || body[0] != 'a' || body[1] != '=' || memcmp(body.data() + n - 4, "&b=1", 4) != 0)
    return false;
  const size_t hex_len = n - 2 - 4;
  if (hex_len % 2) return false;
  std::vector<uint8_t> bytes(hex_len / 2);
  for (size_t i = 0; i < bytes.size(); i++) {
    int hi = hex_digit(body[2 + 2 * i]), lo = hex_digit(body[3 + 2 * i]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = uint8_t(hi << 4 | lo);
  }
  auto be32 = [&](size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
  };
  out->random = be32(0);
  out->sequence = be32(4);
  out->session = be32(8);
  out->data.assign(bytes.begin() + 12, bytes.end());
  out->request_set = out->data.size() >= 2 && out->data[out->data.size() - 2] == 0 && out->data.back() == 0x5B;
  if (out->request_set) out->data.resize(out->data.size() - 2);
  return true;
}

std::string sim_http_link_head() {
  return "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nCache-Control: no-cache\r\n\r\n";
}

std::string sim_http_bye() { return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nBYE"; }

std::string sim_http_error(int status) {
  char head[160];
  snprintf(head, sizeof head, "HTTP/1.0 %d %s\r\nContent-Type: text/plain\r\nContent-Length: 0\r\n\r\n", status,
           reason(status));
  return head;
}

std::string sim_http_file_head(const sim_http_file& file) {
  char line[96];
  snprintf(line, sizeof line, "HTTP/1.0 %d %s\r\n", file.status, reason(file.status));
  std::string head = line;
  if (!file.location.empty()) head += "Location: " + file.location + "\r\n";
  head += "Content-Type: application/octet-stream\r\n";
  if (!file.no_length) head += "Content-Length: " + std::to_string(file.body.size()) + "\r\n";
  head += "\r\n";
  return head;
}

std::string sim_http_file_body(const sim_http_file& file) {
  if (file.cut_at >= 0 && size_t(file.cut_at) < file.body.size()) return file.body.substr(0, size_t(file.cut_at));
  return file.body;
}
