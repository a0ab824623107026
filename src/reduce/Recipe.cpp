#include "Recipe.h"

#include <array>
#include <utility>

namespace reduce {

PhotoPath SplitPhotoPath(std::string_view photo) noexcept
{
    const size_t slash = photo.rfind('/');
    if (slash == std::string_view::npos)
        return {{}, photo};
    return {photo.substr(0, slash + 1), photo.substr(slash + 1)};
}

std::string OutputName(std::string_view photoName)
{
    std::string name(photoName.substr(0, photoName.rfind('.')));
    return name.append(kOutputSuffix);
}

Reader ReaderFor(std::string_view format) noexcept
{
    static constexpr std::array<std::pair<std::string_view, Reader>, 14> kReaders{{
        {"BMP", Reader::Bmp},
        {"PNG", Reader::Png},
        {"GIF", Reader::Gif},
        {"TIF", Reader::Tif},
        {"TIFF", Reader::Tif},
        {"TGA", Reader::Tga},
        {"PCX", Reader::Pcx},
        {"EPS", Reader::Eps},
        {"PCD", Reader::Pcd},
        {"DXF", Reader::Dxf},
        {"JPEG", Reader::Jpeg},
        // One reader for both: the codec is the module's business.
        {"HEIF", Reader::Heif},
        {"AVIF", Reader::Heif},
        {"WEBP", Reader::Webp},
    }};
    for (const auto& [name, reader] : kReaders) {
        if (name == format)
            return reader;
    }
    return Reader::None;
}

}  // namespace reduce
