// The floor under snimkorez-reduce: a whole process that reads a JPEG and
// decodes it with plain libjpeg-turbo at 1/DENOMINATOR, the scale
// snimkorez-reduce decodes at, into one reused row and nothing else.
//
//   bench_decode_floor DENOMINATOR PHOTO.jpg
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    std::FILE* file = std::fopen(argv[2], "rb");
    if (!file)
        return 1;
    std::vector<unsigned char> bytes;
    unsigned char buffer[1 << 16];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(std::atoi(argv[1]));
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    std::vector<unsigned char> row(static_cast<size_t>(info.output_width) * 3);
    JSAMPROW rows[1] = {row.data()};
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, rows, 1);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return 0;
}
