#pragma once

// Symbols of the finger library that other libraries and applications may use.
#define QRLFINGER_EXPORT __attribute__((visibility("default")))
