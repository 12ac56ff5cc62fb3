// Control interface of the simulated window system, for tests and the demo only: the
// system's own code never includes this header.
#pragma once

#include <cstdint>

extern "C" {

// The screen: size in pixels, bits per pixel (16 or 32) and dots per inch. Default
// 240 x 320, 16, 96; also taken from VORK_SCREEN="<w>x<h>x<bits>@<dpi>" at start. Changing it
// clears the framebuffer. Answers 0 for an impossible setting.
int VorkControl_SetScreen(int width, int height, int bitsPerPixel, int dpi);
// Saves the framebuffer as an 8-bit RGB PNG at the host path. Answers 1 on success.
int VorkControl_SaveScreenPng(const char* hostPath);
// The colour of a screen pixel as 0x00RRGGBB (as stored at the screen's depth), or -1 outside.
int32_t VorkControl_ScreenPixel(int x, int y);
// The work area (the screen without the task bar): default the screen less 26 pixels at top.
void VorkControl_SetWorkArea(int left, int top, int right, int bottom);

// The lines one wheel notch scrolls (default 3; 0xFFFFFFFF scrolls by pages).
void VorkControl_SetWheelScrollLines(unsigned lines);

// Every input SendInput took, oldest first, as text lines ("key vk=0x41 scan=0 flags=0x1",
// "mouse dx=0 dy=0 data=0 flags=0x8001"), and then forgets them. The caller frees the
// result with free().
char* VorkControl_TakeInputLog();
}
