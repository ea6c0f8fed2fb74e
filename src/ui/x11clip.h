// The image half of the clipboard on X11, which SDL does not offer: our own
// connection and a hidden window that owns the CLIPBOARD selection and
// serves a PNG image (targets "TARGETS" and "image/png") to whoever asks.
// Part of the platform layer; main thread only.
#pragma once
#include <cstddef>
#include <cstdint>

// Takes a copy of the PNG bytes and claims the clipboard. 0, or -1 when
// there is no display or the image is larger than one X request can carry.
int x11clip_set_png(const uint8_t *png, size_t n);
// Answers pending requests for the image; cheap when nothing is pending.
void x11clip_pump(void);
// 1 while we still own the clipboard with an image.
int x11clip_owned(void);
void x11clip_shutdown(void);
