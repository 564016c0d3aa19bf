#pragma once

// What the text-recognition helper (vyo-ocr) and the application agree on. The helper is started
// with one image path as its argument; it prints the recognised lines (UTF-8, joined with a line
// feed) on standard output and tells the outcome by its exit code.

namespace vyo::TextRecognitionHelper {

inline constexpr char programName[] = "vyo-ocr";

enum ExitCode : int {
    foundText = 0,
    noText = 10,
    unreadable = 11,
    engineFailed = 12, // the engine or its language data could not be loaded, or recognition failed
    usage = 13,
};

// Images are scaled down to this long side before recognition: text in a larger image is still
// legible at this size, while recognition time and memory grow with the pixel count (a
// 24-megapixel photo costs over 5 s and 400 MB).
inline constexpr int maximumLongSide = 3200;

// The helper's memory ceiling (address space); past it, allocation fails and the helper dies
// instead of the machine.
inline constexpr long long memoryLimitBytes = 3LL * 1024 * 1024 * 1024;

} // namespace vyo::TextRecognitionHelper
