// Version strings of this build: constant texts that the about panel, the
// crash report and the reports to the server show.
#pragma once

const char *version_full();        // "1.27.1.39293"
const char *version_short();       // "1.27.1"
const char *version_build_text();  // "1.27.1 build 39293"
const char *version_build();       // "39293"
const char *version_date();        // the build's date and time
const char *version_platform();    // processor and system of this build
const char *version_notice();      // the line under the product name
