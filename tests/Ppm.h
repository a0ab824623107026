#pragma once

// The reference pictures the test-data scripts write as binary PPM.

#include <QFile>
#include <QImage>

namespace testfiles {

// Binary PPM (P6) at 8 or 16 bits a sample, 16-bit samples rounded to 8.
inline QImage ReadPpm(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith("P6"))
        return {};
    int fields[3] = {};
    qsizetype at = 2;
    for (int& field : fields) {
        while (at < bytes.size() && QChar::isSpace(static_cast<uchar>(bytes[at])))
            ++at;
        const qsizetype start = at;
        while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9')
            ++at;
        field = bytes.mid(start, at - start).toInt();
    }
    ++at;
    const int sampleBytes = fields[2] == 255 ? 1 : fields[2] == 65535 ? 2 : 0;
    if (sampleBytes == 0 || bytes.size() - at != qsizetype{3} * fields[0] * fields[1] * sampleBytes)
        return {};
    QImage image(fields[0], fields[1], QImage::Format_RGB888);
    const auto* in = reinterpret_cast<const uchar*>(bytes.constData() + at);
    for (int y = 0; y < image.height(); ++y) {
        uchar* out = image.scanLine(y);
        for (int i = 0; i < 3 * image.width(); ++i, in += sampleBytes)
            out[i] = sampleBytes == 1 ? in[0] : static_cast<uchar>(((in[0] << 8 | in[1]) * 255 + 32767) / 65535);
    }
    return image;
}

}  // namespace testfiles
