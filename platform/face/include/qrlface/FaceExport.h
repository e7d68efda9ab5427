#pragma once

// Symbols of the face library that other libraries and applications may use.
#define QRLFACE_EXPORT __attribute__((visibility("default")))
