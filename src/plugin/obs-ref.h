#pragma once

// Holders for the libobs references that obs.hpp has none for. They behave
// like obs.hpp's AutoRelease holders: move-only, convertible to the raw
// pointer, and assigning a new pointer releases the old one.

#include <obs.hpp>
#include <util/bmem.h>
#include <util/text-lookup.h>

namespace obsref {

inline void freeString(char* text) {
    bfree(text);
}

} // namespace obsref

// A text table from obs_module_load_locale.
using OBSTextLookupAutoRelease = OBSRefAutoRelease<lookup_t*, text_lookup_destroy>;
// A string libobs allocated for the caller (obs_find_module_file,
// obs_module_get_config_path, ...).
using OBSStringAutoRelease = OBSRefAutoRelease<char*, obsref::freeString>;
