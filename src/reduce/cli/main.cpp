// snimkorez-reduce: the photo command's reduction for batches and scripts.
// Each photo becomes "<name>_Resize728px.jpg" beside it, 728 pixels on the
// side the size rule fits, sharpened, at JPEG quality 90. No window, no
// display, no Qt: loading Qt alone takes longer than a small photo's whole
// reduction. The imaging modules are called directly, several photos at once.
#include "imaging/ModuleSearch.h"
#include "OwnedBlock.h"
#include "imglib.h"
#include "reduce/Recipe.h"
#include "reduce/ReduceSize.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

using reduce::kAmount;
constexpr auto kQuality = static_cast<int16_t>(reduce::kQuality);
constexpr auto kSmoothing = static_cast<int16_t>(reduce::kSmoothing);

const char kHelp[] =
    "Использование: snimkorez-reduce [--jobs N] ФОТО...\n"
    "Уменьшает каждое фото для доски объявлений так же, как Снимкорез: 728 точек\n"
    "по длинной стороне (небольшие фото сохраняют свой размер), с повышенной\n"
    "резкостью, JPEG качества 90, рядом с фото под именем ИМЯ_Resize728px.jpg.\n"
    "Само фото не меняется. Для каждого фото печатает записанный файл и его\n"
    "размер; фото, которое уменьшить не удалось, называет в потоке ошибок и\n"
    "продолжает с остальными. Код выхода 1, если не удалось хотя бы одно.\n"
    "\n"
    "  --jobs N   сколько фото уменьшать одновременно (по умолчанию: число процессоров)\n"
    "  --help     эта справка\n";

// The entries a reduction needs, resolved once before any work starts.
struct Modules {
    fileinfo_fn fileInfo = nullptr;
    rdjpgfiledibatleast_fn readJpeg = nullptr;
    rdjpgrowsatleast_fn readJpegRows = nullptr;
    wrjpgrowsopen_fn openWriter = nullptr;
    wrjpgrowsput_fn putRows = nullptr;
    wrjpgrowsclose_fn closeWriter = nullptr;
    ScaleRowsOpen_fn openScaler = nullptr;
    ScaleRowsPut_fn scaleRows = nullptr;
    ScaleRowsClose_fn closeScaler = nullptr;
    std::array<rdpalettefiledib_fn, reduce::kReaderCount> paletteReaders{};  // by reduce::Reader; null: another type
    readfiledib_fn readTga = nullptr;
    readpagefiledib_fn readTiff = nullptr;
    wrjpgfiledib_fn writeJpeg = nullptr;
    ScaleDib_fn scale = nullptr;
    Better_fn sharpen = nullptr;
    const ILStringEntry* texts = nullptr;

    template <class F>
    static bool Resolve(void* module, const char* name, F& into)
    {
        into = reinterpret_cast<F>(dlsym(module, name));
        return into != nullptr;
    }

    bool Load(std::string& failure)
    {
        void* codecs = imaging::OpenModule("CRDE2001.so");
        void* processing = imaging::OpenModule("ISP2000.so");
        if (!codecs || !processing) {
            failure = "модули обработки изображений CRDE2001.so и ISP2000.so не найдены рядом с программой";
            return false;
        }
        texts = static_cast<const ILStringEntry*>(dlsym(codecs, "ILStringTable"));
        const bool ok = Resolve(codecs, "fileinfo", fileInfo) && Resolve(codecs, "rdjpgfiledibatleast", readJpeg) &&
                        Resolve(codecs, "readtgafiledib", readTga) &&
                        Resolve(codecs, "readtiffiledib", readTiff) &&
                        Resolve(codecs, "wrjpgfiledib", writeJpeg) && Resolve(processing, "ScaleDib", scale) &&
                        Resolve(processing, "Better", sharpen) && Resolve(codecs, "rdjpgrowsatleast", readJpegRows) &&
                        Resolve(codecs, "wrjpgrowsopen", openWriter) && Resolve(codecs, "wrjpgrowsput", putRows) &&
                        Resolve(codecs, "wrjpgrowsclose", closeWriter) &&
                        Resolve(processing, "ScaleRowsOpen", openScaler) &&
                        Resolve(processing, "ScaleRowsPut", scaleRows) &&
                        Resolve(processing, "ScaleRowsClose", closeScaler);
        using reduce::Reader;
        static constexpr std::pair<Reader, const char*> kPaletteEntries[] = {
            {Reader::Bmp, "rdbmpfiledib"}, {Reader::Png, "rdpngfiledib"},   {Reader::Gif, "rdgiffiledib"},
            {Reader::Pcx, "rdpcxfiledib"}, {Reader::Heif, "rdheiffiledib"}, {Reader::Webp, "rdwebpfiledib"}};
        bool all = ok;
        for (const auto& [reader, entry] : kPaletteEntries)
            all = all && Resolve(codecs, entry, paletteReaders[static_cast<size_t>(reader)]);
        if (!all)
            failure = "модули обработки изображений рядом с программой другой версии";
        return all;
    }

    // The whole picture of a photo in a 24-bit block; a JPEG at the
    // coarsest DCT scale that keeps twice the target size.
    int16_t Read(reduce::Reader reader, const char* name, reduce::Size size, HDIB* dib) const
    {
        switch (reader) {
        case reduce::Reader::Jpeg:
            return readJpeg(name, 2 * size.width, 2 * size.height, dib, nullptr, nullptr, 0);
        case reduce::Reader::Tga:
            return readTga(name, 24, 0, dib, nullptr, nullptr, 0);
        case reduce::Reader::Tif:
            return readTiff(name, 24, 0, 0, dib, nullptr, nullptr, 0);
        default:
            break;
        }
        // Drawings and formats the module recognises but does not read have none.
        const rdpalettefiledib_fn read = paletteReaders[static_cast<size_t>(reader)];
        return read ? read(name, 24, 0, dib, nullptr, nullptr, nullptr, 0) : int16_t{IL_ERR_UNSUPPORTED};
    }

    [[nodiscard]] std::string Text(int16_t number) const
    {
        for (const ILStringEntry* entry = texts; entry && entry->text; ++entry) {
            if (entry->id == static_cast<uint16_t>(number))
                return entry->text;
        }
        return "ошибка " + std::to_string(number) + " модуля обработки изображений";
    }
};

// The photo's folder ("./" for a bare name) and its reduced name.
[[nodiscard]] std::string OutputPath(const std::string& photo)
{
    const reduce::PhotoPath path = reduce::SplitPhotoPath(photo);
    return std::string(path.folder.empty() ? "./" : path.folder) + reduce::OutputName(path.name);
}

// A single-scan JPEG reduced while it is decoded: this thread decodes, a
// second one scales, sharpens and encodes the rows as they come, with a
// few bands between them. Nothing holds the decoded picture.
class Streamed {
public:
    Streamed(const Modules& m, reduce::Size size, const std::string& output)
        : m_modules(m), m_size(size), m_output(output)
    {
    }

    // IL_ERR_UNSUPPORTED with nothing done when the file is not read so;
    // otherwise > 0 when the file is written, or why not in `failure`.
    int16_t Run(const char* photo, std::string& failure)
    {
        std::thread worker([this] { Work(); });
        const int16_t decoded = m_modules.readJpegRows(photo, 2 * m_size.width, 2 * m_size.height, &Streamed::Take,
                                                       this, nullptr, nullptr, 0);
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_changed.notify_all();
        worker.join();
        const bool scaled = m_scaler != nullptr && m_modules.closeScaler(m_scaler) == 1;
        if (decoded <= 0 || !scaled || !m_writer || m_stopped) {
            if (m_writer)
                m_modules.closeWriter(m_writer, 0);
            if (decoded == IL_ERR_UNSUPPORTED && !m_started)
                return IL_ERR_UNSUPPORTED;
            if (m_writeFailure < 0)
                failure = m_output + ": " + m_modules.Text(m_writeFailure);
            else if (decoded <= 0 && decoded != IL_ERR_CANCELLED)
                failure = m_modules.Text(decoded);
            else
                failure = "не удалось уменьшить фото до " + std::to_string(m_size.width) + " × " +
                          std::to_string(m_size.height);
            return IL_ERR_UNKNOWN;
        }
        const int16_t written = m_modules.closeWriter(m_writer, 1);
        if (written <= 0)
            failure = m_output + ": " + m_modules.Text(written);
        return written;
    }

private:
    struct Band {
        std::vector<uint8_t> pixels;
        int32_t count = 0;
    };
    static constexpr size_t kBands = 8;

    // On the decoding thread: a copy of the band for the other one.
    static int Take(const uint8_t* const* rows, int32_t count, int32_t width, int32_t height, void* data)
    {
        auto* self = static_cast<Streamed*>(data);
        const size_t line = static_cast<size_t>(width) * 3;
        std::unique_lock lock(self->m_mutex);
        self->m_changed.wait(lock, [self] { return self->m_bands.size() < kBands || self->m_stopped; });
        if (self->m_stopped)
            return 0;
        self->m_started = true;
        self->m_width = width;
        self->m_height = height;
        Band band;
        if (!self->m_spare.empty()) {
            band = std::move(self->m_spare.back());
            self->m_spare.pop_back();
        }
        lock.unlock();
        band.pixels.resize(line * static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k)
            std::memcpy(band.pixels.data() + line * static_cast<size_t>(k), rows[k], line);
        band.count = count;
        lock.lock();
        self->m_bands.push_back(std::move(band));
        lock.unlock();
        self->m_changed.notify_all();
        return 1;
    }

    // On the second thread: the scaler's finished rows to the encoder.
    static int Give(const uint8_t* const* rows, int32_t count, int32_t, int32_t, void* data)
    {
        auto* self = static_cast<Streamed*>(data);
        const int16_t result = self->m_modules.putRows(self->m_writer, rows, count);
        if (result <= 0)
            self->m_writeFailure = result;
        return result > 0 ? 1 : 0;
    }

    void Work()
    {
        std::vector<const uint8_t*> rows;
        for (;;) {
            Band band;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_bands.empty() || m_finished; });
                if (m_bands.empty())
                    return;
                band = std::move(m_bands.front());
                m_bands.pop_front();
            }
            m_changed.notify_all();
            bool ok = !m_stopped;
            if (ok && !m_scaler) {
                m_writer = m_modules.openWriter(m_output.c_str(), m_size.width, m_size.height, kQuality, kSmoothing);
                m_scaler = m_writer ? m_modules.openScaler(m_width, m_height, m_size.width, m_size.height, kAmount,
                                                           &Streamed::Give, this)
                                    : nullptr;
                ok = m_scaler != nullptr;
            }
            if (ok) {
                const size_t line = static_cast<size_t>(m_width) * 3;
                rows.resize(static_cast<size_t>(band.count));
                for (int32_t k = 0; k < band.count; ++k)
                    rows[static_cast<size_t>(k)] = band.pixels.data() + line * static_cast<size_t>(k);
                ok = m_modules.scaleRows(m_scaler, rows.data(), band.count) == 1;
            }
            const std::lock_guard lock(m_mutex);
            if (!ok)
                m_stopped = true;
            m_spare.push_back(std::move(band));
            m_changed.notify_all();
        }
    }

    const Modules& m_modules;
    const reduce::Size m_size;
    const std::string& m_output;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Band> m_bands;
    std::vector<Band> m_spare;
    bool m_finished = false;
    bool m_stopped = false;
    bool m_started = false;
    int32_t m_width = 0, m_height = 0;  // the decoded picture, set before the first band
    ILScaleRows* m_scaler = nullptr;
    ILJpegRows* m_writer = nullptr;
    int16_t m_writeFailure = 0;
};

// Reduces one photo; on failure `failure` says why in plain words.
bool Reduce(const Modules& m, const std::string& photo, std::string& output, reduce::Size& size,
            std::string& failure)
{
    if (photo.size() >= IL_NAME_BUFFER) {
        failure = "слишком длинное имя файла";
        return false;
    }
    const char* name = photo.c_str();
    char format[IL_FORMAT_NAME_SIZE] = {};
    char compression[IL_COMPRESSION_NAME_SIZE] = {};
    int32_t width = 0, height = 0;
    int16_t bits = 0, pages = 0, orientation = 0;
    int16_t result = m.fileInfo(name, format, &width, &height, &bits, &pages, &orientation, compression, 0);
    if (result <= 0) {
        failure = m.Text(result);
        return false;
    }
    size = reduce::ReduceSize(width, height, reduce::kTarget, reduce::kThreshold);
    output = OutputPath(photo);
    const std::string_view kind(format);
    // Twice the target keeps a reduced-DCT decode as sharp as a whole one
    // after the Lanczos step, at a fraction of the time and memory.
    // A single-scan upright file is reduced while it is decoded; the rest is
    // read whole first.
    if (kind == "JPEG" && std::string_view(compression) == "JPEG" && orientation <= 2) {
        Streamed streamed(m, size, output);
        result = streamed.Run(name, failure);
        if (result != IL_ERR_UNSUPPORTED)
            return result > 0;
        failure.clear();
    }
    OwnedBlock source;
    result = m.Read(reduce::ReaderFor(kind), name, size, source.Receive());
    if (result <= 0 || !source) {
        failure = m.Text(result <= 0 ? result : int16_t{IL_ERR_UNKNOWN});
        return false;
    }

    const OwnedBlock scaled(m.scale(source.Get(), size.width, size.height));
    source.Reset();
    if (!scaled) {
        failure = "не удалось уменьшить фото до " + std::to_string(size.width) + " × " + std::to_string(size.height);
        return false;
    }
    const OwnedBlock sharp(m.sharpen(scaled.Get(), kAmount, 0, 0, size.width, size.height, nullptr, nullptr));
    const HDIB written = sharp ? sharp.Get() : scaled.Get();  // unsharpened rather than nothing
    result = m.writeJpeg(output.c_str(), kQuality, kSmoothing, 24, written, nullptr, nullptr, 0);
    if (result <= 0) {
        failure = output + ": " + m.Text(result);
        return false;
    }
    return true;
}

// A whole number of 1 or more, or 0.
int Count(std::string_view text)
{
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > 100000)
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> photos;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (argument == "--jobs" || argument.starts_with("--jobs=")) {
            std::string_view value = argument.substr(std::min<size_t>(argument.size(), 7));
            if (argument == "--jobs")
                value = i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
            jobs = Count(value);
            if (jobs < 1) {
                std::fputs("snimkorez-reduce: после --jobs нужно число от 1\n", stderr);
                return 2;
            }
            continue;
        }
        if (argument.starts_with("--")) {
            std::fprintf(stderr, "snimkorez-reduce: неизвестный параметр %s (см. --help)\n", argv[i]);
            return 2;
        }
        photos.emplace_back(argument);
    }
    if (photos.empty()) {
        std::fputs(kHelp, stderr);
        return 2;
    }

    Modules modules;
    std::string failure;
    if (!modules.Load(failure)) {
        std::fprintf(stderr, "snimkorez-reduce: %s\n", failure.c_str());
        return 1;
    }

    std::mutex printing;
    std::atomic<size_t> next{0};
    std::atomic<bool> anyFailed{false};
    const auto work = [&] {
        for (size_t i = next++; i < photos.size(); i = next++) {
            std::string output, reason;
            reduce::Size size;
            const bool ok = Reduce(modules, photos[i], output, size, reason);
            const std::lock_guard lock(printing);
            if (ok) {
                std::printf("%s %dx%d\n", output.c_str(), size.width, size.height);
                std::fflush(stdout);
            } else {
                anyFailed = true;
                std::fprintf(stderr, "snimkorez-reduce: %s: %s\n", photos[i].c_str(), reason.c_str());
            }
        }
    };
    std::vector<std::thread> workers;
    const int count = std::min<int>(jobs, static_cast<int>(photos.size()));
    for (int i = 1; i < count; ++i)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    return anyFailed ? 1 : 0;
}
