// Message handlers of the depth queue, depth answer and trade-list family
// (types 60-69, 75, 76) and of the index tick and trade variant family
// (types 31, 70-72, 80-83). The dispatcher's table points at them; each has
// the handler shape of ssproto.h.
#pragma once
#include "ssproto.h"

int ssproto_do_queue(ssproto_msg* m);         // 60, 61
int ssproto_do_queue_block(ssproto_msg* m);   // 62, 63
int ssproto_do_depth_answer(ssproto_msg* m);  // 64-67
int ssproto_do_out_of_order(ssproto_msg* m);  // 68
int ssproto_do_skip_word(ssproto_msg* m);     // 69
int ssproto_do_trade_list(ssproto_msg* m);    // 75, 76
int ssproto_do_index_tick(ssproto_msg* m);    // 31
int ssproto_do_index_values(ssproto_msg* m);  // 80-83
int ssproto_do_trade_variant(ssproto_msg* m); // 70, 71
int ssproto_do_trade_amend(ssproto_msg* m);   // 72
