// Keyboard bindings and typed commands.
#pragma once

int keyboard_init(void);  // 0
void keyboard_fini(void);
