#pragma once

// Symbols of the image library that other libraries and applications may use.
#define QRLIMAGE_EXPORT __attribute__((visibility("default")))
