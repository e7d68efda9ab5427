#pragma once

// Symbols of the core library that other libraries and applications may use.
#if defined(QRLCORE_BUILDING_LIBRARY)
#define QRLCORE_EXPORT __attribute__((visibility("default")))
#else
#define QRLCORE_EXPORT __attribute__((visibility("default")))
#endif
