// How long the reduction's processing steps take, next to a plain
// libjpeg-turbo decode of a 6000 x 4000 photo measured in the same run.
//
//   bench_scale [photo.jpg] [repeats]
//
// The photo (by default one of Debian's lomiri-wallpapers) is decoded, cut or
// mirrored to 6000 x 4000, encoded once as a JPEG (quality 90) and that JPEG's
// decode is the baseline. Each step runs `repeats` times; the best time
// counts, as other work on the machine only ever adds time.

#include "BenchCommon.h"
#include "Dib.h"
#include "reduce/Recipe.h"

#include <sys/resource.h>

namespace {

using bench::Best;
using bench::Decode;
using bench::Picture;
using bench::ReadFile;
using bench::ResetPeak;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kReduced = reduce::kTarget;

std::vector<unsigned char> Encode(const Picture& picture)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto row = const_cast<JSAMPROW>(&picture.rgb[static_cast<size_t>(info.next_scanline) * picture.width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> out(buffer, buffer + size);
    free(buffer);
    return out;
}

// The photo cut to 6000 wide and mirrored down to 4000 rows (or across, for a
// narrower photo), as a 24-bit block.
HDIB MakeBlock(const Picture& photo)
{
    HDIB dib = imglib::CreateDib(kWidth, kHeight, 24);
    if (!dib)
        return nullptr;
    const imglib::DibView view(dib);
    const auto mirror = [](int i, int n) {
        const int period = 2 * n;
        i %= period;
        return i < n ? i : period - 1 - i;
    };
    for (int y = 0; y < kHeight; ++y) {
        const unsigned char* in = &photo.rgb[static_cast<size_t>(mirror(y, photo.height)) * photo.width * 3];
        uint8_t* out = view.Row(y);
        for (int x = 0; x < kWidth; ++x, out += 3) {
            const unsigned char* p = in + static_cast<size_t>(mirror(x, photo.width)) * 3;
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
        }
    }
    return dib;
}

Picture FromBlock(HDIB dib)
{
    const imglib::DibView view(dib);
    Picture picture{view.Width(), view.Height(), {}};
    picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* in = view.Row(y);
        unsigned char* out = &picture.rgb[static_cast<size_t>(y) * picture.width * 3];
        for (int x = 0; x < picture.width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    return picture;
}

long PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* name = argc > 1 ? argv[1] : "/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg";
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::vector<unsigned char> file = ReadFile(name);
    if (file.empty()) {
        std::fprintf(stderr, "bench_scale: cannot read %s (Debian package lomiri-wallpapers)\n", name);
        return 1;
    }

    Picture photo;
    ResetPeak();
    const double photoDecode = Best(repeats, [&] { photo = Decode(file.data(), file.size()); });
    const long photoPeak = PeakMegabytes();
    const int photoWidth = photo.width, photoHeight = photo.height;
    HDIB block = MakeBlock(photo);
    photo = {};
    if (!block) {
        std::fprintf(stderr, "bench_scale: out of memory\n");
        return 1;
    }
    const std::vector<unsigned char> jpeg = Encode(FromBlock(block));
    ResetPeak();
    const double baseline = Best(repeats, [&] { Picture p = Decode(jpeg.data(), jpeg.size()); });
    const long baselinePeak = PeakMegabytes();

    const int height = (kHeight * kReduced * 2 + kWidth) / (kWidth * 2);
    HDIB scaled = nullptr;
    ResetPeak();
    const double scale = Best(repeats, [&] {
        GlobalFree(scaled);
        scaled = ScaleDib(block, kReduced, height);
    });
    const long scalePeak = PeakMegabytes();
    if (!scaled) {
        std::fprintf(stderr, "bench_scale: ScaleDib failed\n");
        return 1;
    }
    ResetPeak();
    const double betterSmall = Best(repeats, [&] {
        GlobalFree(Better(scaled, reduce::kAmount, 0, 0, kReduced, height, nullptr, nullptr));
    });
    const long betterSmallPeak = PeakMegabytes();
    ResetPeak();
    const double betterLarge = Best(std::max(1, repeats / 2), [&] {
        GlobalFree(Better(block, reduce::kAmount, 0, 0, kWidth, kHeight, nullptr, nullptr));
    });
    const long betterLargePeak = PeakMegabytes();

    std::printf("photo %s (%d x %d), best of %d\n", name, photoWidth, photoHeight, repeats);
    std::printf("peak MB: the highest resident memory while the step ran, everything held at that\n"
                "point included (from the baseline on: the 69 MB block and a %zu kB JPEG)\n\n",
                jpeg.size() / 1024);
    std::printf("%-44s %10s %8s %10s\n", "step", "ms", "ratio", "peak MB");
    const auto row = [&](const char* step, double ms, long peak) {
        std::printf("%-44s %10.1f %8.3f %10ld\n", step, ms, ms / baseline, peak);
    };
    row("libjpeg-turbo decode of the photo", photoDecode, photoPeak);
    row("libjpeg-turbo decode 6000x4000 (baseline)", baseline, baselinePeak);
    row("ScaleDib 6000x4000 -> 728 wide", scale, scalePeak);
    row("Better amount 2 on the 728-wide result", betterSmall, betterSmallPeak);
    row("Better amount 2 on 6000x4000", betterLarge, betterLargePeak);
    std::printf("\nprocess peak %ld MB\n", PeakMegabytes());
    GlobalFree(scaled);
    GlobalFree(block);
    return 0;
}
