#pragma once

#include <IL/il.h>

#include <cstddef>

// The input image as the filters see it: width*height pixels at three bytes
// per pixel (blue, green, red), rows of 3*width bytes with no gap, top row
// first, owned by the bound DevIL image. That image's IL_IMAGE_ORIGIN is
// IL_ORIGIN_UPPER_LEFT, so ilSave writes it the right way up; a DevIL image
// filled with rows in this order needs ilRegisterOrigin(IL_ORIGIN_UPPER_LEFT)
// for the same.
struct input_image {
    ILuint name;
    unsigned char* pixels;
    int width;
    int height;
};

// Loads the BMP at `path` into a new, bound DevIL image of three bytes per
// pixel. On failure it reports on stderr, leaves no image behind and returns
// false. DevIL and ILU must have been initialised on this thread; DevIL is not
// thread-safe, so every call stays on that thread.
bool load_input_image(const char* path, input_image* image);

// The same for a BMP file already in memory; `what` names it in messages.
bool load_input_from_memory(const char* what, const unsigned char* data, size_t size,
                            input_image* image);
