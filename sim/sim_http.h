// The simulator's HTTP side: the HTTP mode of the market-data link (the link
// is one long POST whose reply is the stream; each request set is a POST of
// its own) and a small file server for the client's HTTP side requests.
// Pure functions over bytes; the connection threads of sim.cpp call them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sim_server;

// A file the simulator serves to GET requests of its path.
struct sim_http_file {
  std::string path;            // "/docs/report.pdf"
  int status = 200;            // any code; 3xx with `location` redirects
  std::string location;        // the Location header, when not empty
  std::string body;
  int64_t cut_at = -1;         // >= 0: the connection closes after this many body bytes
  bool no_length = false;      // no Content-Length: the body ends with the connection
  int32_t drip_bytes = 0;      // > 0: the body goes out this many bytes a write ...
  int32_t drip_ms = 0;         // ... with this pause between writes
};

// Adds (or replaces) a file. 0, or -1 for a path not starting with '/'.
int sim_http_add_file(sim_server* sim, const sim_http_file& file);
// The header blocks of every HTTP request received, in order.
std::vector<std::string> sim_http_requests(sim_server* sim);

// One parsed HTTP request.
struct sim_http_request {
  std::string method;
  std::string target;   // as sent (origin form or absolute URL)
  std::string path;     // the target without "http://host[:port]"
  std::string headers;  // the whole header block, request line included
  std::vector<uint8_t> body;
};

// True when the bytes begin like an HTTP request (not a greeting).
bool sim_http_looks_like_request(const uint8_t* p, size_t n);
// Reads one request with its Content-Length body: the bytes used, 0 while
// incomplete, -1 for a malformed or oversized request.
int64_t sim_http_parse_request(const uint8_t* p, size_t n, sim_http_request* out);

// The fields of an HTTP-mode body: "a=", 24 hex digits (random, sequence and
// session value, big-endian), the data in hex, "&b=1". A request set's
// trailing 00 5B is taken off and reported in *request_set.
struct sim_http_body {
  uint32_t random = 0;
  uint32_t sequence = 0;
  uint32_t session = 0;
  bool request_set = false;
  std::vector<uint8_t> data;
};
bool sim_http_decode_body(const std::vector<uint8_t>& body, sim_http_body* out);

// The reply head of the link's POST, after which the stream follows.
std::string sim_http_link_head();
// The reply to a request set's POST.
std::string sim_http_bye();
// The reply to a request the simulator cannot serve.
std::string sim_http_error(int status);
// The reply head for a file (status line and headers), and the body bytes
// to send (cut when the file says so).
std::string sim_http_file_head(const sim_http_file& file);
std::string sim_http_file_body(const sim_http_file& file);
