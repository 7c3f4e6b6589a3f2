// Reading UTF-8 text one character at a time, for the names that the platform layer and
// its clients store, cut to fit, or write into files that must be valid UTF-8 (thread
// names, scope names). Portable.
#pragma once

#include <cstddef>

// One step through a text: a whole character, or, where the bytes are not a well-formed
// character, the longest start of one that they form (at least one byte). An ill-formed
// piece is what a reader replaces with U+FFFD.
struct SUtf8Step
{
    size_t m_Length; // bytes the step covers; 0 only at the terminator
    bool m_Valid;    // a whole, well-formed character
};

// The step at the text's first byte; reads at most 4 bytes and never past the terminator.
SUtf8Step Utf8Step(const char* text);

// The length of the longest start of the text that has at most limit bytes and ends
// between two steps, so a cut never leaves half a character behind.
size_t Utf8CutLength(const char* text, size_t limit);
