// The connection page of the configuration dialog: the four connection
// locations of the local settings, which one is in use, its name, how to
// reach the server and which proxy to use. Edits go straight into the local
// settings; hiding a changed page saves them. They take effect at the next
// connection. Main thread.
#pragma once
#include "ui/button.h"
#include "ui/container.h"

struct textbox;

struct connection_page : bin {
  button *location[4];   // commands 0 to 3
  textbox *name;         // 50
  button *internet;      // 41, a toggle
  textbox *host;         // 53
  button *port[3];       // 33 "6080", 34 "443", 35 "80"
  button *mode[2];       // 30 "Native", 31 "HTTP"
  button *proxy[2];      // 36 "None", 37 "HTTP"
  textbox *proxy_host;   // 54
  textbox *proxy_port;   // 55
  textbox *proxy_user;   // 56
  textbox *proxy_password;  // 57
  button_group groups[4];  // location, port, connection and proxy groups
  int32_t shown_location;  // in use when the page was shown while online, else -1
  int32_t changed;
  int32_t refreshing;    // the page is setting its own fields
  int32_t editing;       // the command of the field being typed in, else 0
};

typeid_t connection_page_type();
connection_page *connection_page_new(widget *parent);
// Puts the current settings into the controls (what showing the page does,
// after remembering the location in use).
void connection_page_refresh(connection_page *p);
