#pragma once

#include <IL/il.h>

// DevIL keeps errors on a stack where they outlive the call that raised them.
// Empties it and returns the newest (IL_NO_ERROR when there was none), so the
// next check sees only what the next call did.
inline ILenum take_il_error() {
    ILenum newest = IL_NO_ERROR;
    for (ILenum error = ilGetError(); error != IL_NO_ERROR; error = ilGetError()) {
        if (newest == IL_NO_ERROR) newest = error;
    }
    return newest;
}
