// Version strings of this build. The numbers are fixed texts rather than
// values from the build system, so that every report names the release the
// server knows, whatever machine built it.
#include "version.h"

static const char kFull[] = "1.27.1.39293";
static const char kShort[] = "1.27.1";
static const char kBuildText[] = "1.27.1 build 39293";
static const char kBuild[] = "39293";
static const char kDate[] = "Oct 17 2018 13:19:36";
static const char kPlatform[] = "x86_64-linux";
static const char kNotice[] = "Market data terminal. All rights reserved.";

const char *version_full() { return kFull; }
const char *version_short() { return kShort; }
const char *version_build_text() { return kBuildText; }
const char *version_build() { return kBuild; }
const char *version_date() { return kDate; }
const char *version_platform() { return kPlatform; }
const char *version_notice() { return kNotice; }
