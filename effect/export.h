// Marks the one function the effect library exports; everything else is
// built with hidden visibility.
#pragma once

#if defined(_WIN32)
#define VEMRA_EXPORT __declspec(dllexport)
#else
#define VEMRA_EXPORT __attribute__((visibility("default")))
#endif
