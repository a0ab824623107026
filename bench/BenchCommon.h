#pragma once

// What the benchmark programs share: the plain libjpeg-turbo decode every
// figure is a ratio to, best-of timing, and resident memory readings.

#include <cstdio>  // before jpeglib.h, which needs FILE

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace bench {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

// Plain libjpeg-turbo: default settings, one row at a time into RGB. The
// picture's memory is reused when it is large enough, so that a repeated
// decode measures decoding rather than the kernel handing out fresh pages
// (which on some virtual machines costs more than the decoding).
inline void Decode(const unsigned char* data, unsigned long size, Picture& picture)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &picture.rgb[static_cast<size_t>(info.output_scanline) * picture.width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

inline Picture Decode(const unsigned char* data, unsigned long size)
{
    Picture picture;
    Decode(data, size, picture);
    return picture;
}

inline std::vector<unsigned char> ReadFile(const char* name)
{
    std::vector<unsigned char> data;
    if (FILE* file = std::fopen(name, "rb")) {
        unsigned char chunk[65536];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            data.insert(data.end(), chunk, chunk + n);
        std::fclose(file);
    }
    return data;
}

// Milliseconds of the fastest of `repeats` runs: other work on the machine
// only ever adds time.
inline double Best(int repeats, const std::function<void()>& step)
{
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

// Linux: lowers the peak to what is resident now, so the next reading is the
// peak of the step in between.
inline void ResetPeak()
{
    if (FILE* file = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", file);
        std::fclose(file);
    }
}

// "VmRSS" (resident now) or "VmHWM" (the peak) of this process, in bytes.
inline long long StatusBytes(const char* field)
{
    long long kilobytes = 0;
    if (FILE* file = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t length = std::strlen(field);
        while (std::fgets(line, sizeof line, file)) {
            if (std::strncmp(line, field, length) == 0 && line[length] == ':')
                kilobytes = std::atoll(line + length + 1);
        }
        std::fclose(file);
    }
    return kilobytes * 1024;
}

}  // namespace bench
