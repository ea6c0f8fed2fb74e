// Test support for network tests: loopback sockets on ephemeral ports, so
// peers started by a test never touch anything beyond 127.0.0.1.
#pragma once

// A TCP socket listening on an ephemeral port of 127.0.0.1, with `backlog`
// and, when rcvbuf > 0, that receive buffer size (set before bind, so it
// applies to the accepted connections). Its port goes to *port. -1 when a
// step fails; the caller closes the socket.
int listen_loopback(int backlog, int* port, int rcvbuf = 0);

// A loopback port with nothing listening on it: a connect there is refused.
int refused_port();
