#pragma once

// Saves the bound DevIL image (three bytes per pixel) as a 24-bit BMP at
// `path`. The file is written under a temporary name in the same folder and
// renamed into place only after the write has been checked, so an existing
// file at `path` survives any failure and no partial file is left behind.
// The bound image may be turned over in place, its origin following, so the
// picture saved is the same. Reports on stderr and returns false on failure.
bool save_output_image(const char* path);

// Writes the bound image to `file` directly and checks what landed there:
// DevIL's error stack and the file's size; failures are reported under
// `name`. The building block of save_output_image, exposed for tests of the
// check itself.
bool write_bmp_checked(const char* file, const char* name);
