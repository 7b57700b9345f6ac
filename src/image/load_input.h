#pragma once

#include <IL/il.h>

// The input image as the filters see it: width*height pixels at three bytes
// per pixel, rows of 3*width bytes with no gap, owned by the bound DevIL image.
struct input_image {
    ILuint name;
    unsigned char* pixels;
    int width;
    int height;
};

// Loads the BMP at `path` into a new, bound DevIL image of three bytes per
// pixel. On failure it reports on stderr, leaves no image behind and returns
// false. DevIL must have been initialised on this thread.
bool load_input_image(const char* path, input_image* image);
