#pragma once

// Symbols of the iris library that other libraries and applications may use.
#define QRLIRIS_EXPORT __attribute__((visibility("default")))
