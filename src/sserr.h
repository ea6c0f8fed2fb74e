// The last error the server reported or the io layer met, and the marking of
// refused data requests as "loaded, nothing there".
#pragma once
#include <cstdint>

#include "sstime.h"

constexpr int32_t kSserrNone = 0;
constexpr int32_t kSserrLinkLost = 1;         // sub-code: why the server ended the login
constexpr int32_t kSserrUnknownUser = 10;
constexpr int32_t kSserrBadPassword = 11;
constexpr int32_t kSserrTryAgain = 12;
constexpr int32_t kSserrResubscribe = 13;
constexpr int32_t kSserrLoginDisabled = 15;
constexpr int32_t kSserrApiDisabled = 17;
constexpr int32_t kSserrUpdateRequired = 18;
constexpr int32_t kSserrRequestFailed = 20;   // sub-code: the request kind
constexpr int32_t kSserrRequestQuiet = 22;    // as 20, without a log line
constexpr int32_t kSserrNoServer = 30;
constexpr int32_t kSserrNoProxy = 31;
constexpr int32_t kSserrProxyAuth = 32;

// Global change bit recorded for every report.
constexpr uint32_t kSserrGlobalChange = 0x1000000;

// Records the error and acts on it. exchange is the index as received; a value
// outside 0..3 marks nothing. code_text may be null. For codes 20 and 22
// the caller holds the core lock (the model is touched).
void sserr_report(int32_t code, uint32_t sub_code, uint32_t exchange, const char* code_text, ss_time date);
void sserr_clear(void);
// Any thread, without a lock.
int32_t sserr_last_code(void);
uint32_t sserr_sub_code(void);
// 1 for the codes that the io layer's own link errors (1, 30, 31) must not
// replace: 10, 11, 12, 13, 15, 18, 30, 31, 32.
int sserr_is_specific(int32_t code);
