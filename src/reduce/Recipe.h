#pragma once

// What a reduction makes of a photo, the same for the main window,
// snimkorez-reduce and the benchmarks. No Qt here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace reduce {

inline constexpr int32_t kTarget = 728;     // pixels on the side ReduceSize fits
inline constexpr int32_t kThreshold = 640;  // ReduceSize's keep rule
inline constexpr int32_t kQuality = 90;
// The smoothing the file is written with: the reduction asks its control for
// 0, which the control stores as 5.
inline constexpr int32_t kSmoothing = 5;
inline constexpr int32_t kAmount = 2;  // sharpening
inline constexpr std::string_view kOutputSuffix = "_Resize728px.jpg";

// A photo's path cut after its last "/": the folder with that "/" (empty
// for a bare name), and the file name.
struct PhotoPath {
    std::string_view folder;
    std::string_view name;
};
[[nodiscard]] PhotoPath SplitPhotoPath(std::string_view photo) noexcept;

// The reduced photo's file name: the photo's file name without its
// extension (from its last "." on, a leading one included) followed by
// kOutputSuffix.
[[nodiscard]] std::string OutputName(std::string_view photoName);

// The codec module's reader of a format, by the name the module's file
// information gives (or an extension names).
enum class Reader { None, Bmp, Png, Gif, Tif, Tga, Pcx, Eps, Pcd, Dxf, Jpeg, Heif, Webp };
inline constexpr size_t kReaderCount = static_cast<size_t>(Reader::Webp) + 1;  // Webp stays last
[[nodiscard]] Reader ReaderFor(std::string_view format) noexcept;

}  // namespace reduce
