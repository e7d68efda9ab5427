#pragma once

// Marks the classes and functions that libquarlen.so exports; everything else is hidden.
#define QUARLEN_EXPORT __attribute__((visibility("default")))
