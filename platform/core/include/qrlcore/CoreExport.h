#pragma once

// Symbols of the core library that other libraries and applications may use.
#define QRLCORE_EXPORT __attribute__((visibility("default")))
