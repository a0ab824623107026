// How fast and how lean the reduction to 728 pixels is, photo by photo.
//
//   bench_reduce [--repeats N] PHOTO.jpg...
//
// For each photo, every figure is a ratio to a plain libjpeg-turbo full
// decode of the same photo measured in the same run:
// (decoding alone, into memory already in use; the first decode into fresh
// memory is printed too) --
//   - the photo command's pipeline stage by stage (load by name, bitmap to
//     block, scale, block to bitmap, sharpen, save) and as one call from the
//     loaded picture to the written file, with the peak memory that call adds
//     to the loaded picture, as a multiple of the decoded image (W × H × 3);
//   - snimkorez-reduce on the photo alone (a whole process: start, decode,
//     reduce, write), with its peak resident memory, and as a ratio to its
//     floor: a process that only decodes the photo with libjpeg-turbo at the
//     DCT scale snimkorez-reduce picks (bench_decode_floor);
//   - GraphicsMagick and vipsthumbnail doing the same job, when installed, and
//     snimkorez-reduce's time as a ratio to the faster of them;
//   - the cost of colour management: load by name and snimkorez-reduce on the
//     same file with an Adobe RGB profile embedded, as ratios to the untagged
//     file;
//   - with heif-enc and cwebp installed, the photo made HEIC and WebP:
//     snimkorez-reduce on each as a ratio to the untagged JPEG, and to
//     heif-convert / dwebp decoding the same file.
// Each step runs N times (default 3) and the fastest counts. Photos are copied
// to a temporary folder first; nothing is written beside the originals.

#include "BenchCommon.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/ILDibCls.h"
#include "imaging/TBitmap.h"
#include "preview/TPMultiImage.h"
#include "reduce/Recipe.h"
#include "reduce/ReduceSize.h"
#include "reduce/ResizeImage_Block.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <lcms2.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using bench::Best;

struct Process {
    double milliseconds = 0;
    long long peakBytes = 0;
    bool ok = false;
};

// The reduction as the photo command runs it.
void Reduce(preview::TPMultiImage& control, const QString& output)
{
    reduce::ResizeImage_Block(nullptr, control, reduce::kTarget, reduce::kThreshold, reduce::kQuality, reduce::kAmount,
                              output);
}

// Runs a program `repeats` times with its output discarded: the best wall
// time and the largest peak resident memory. The runs are made by a fresh
// copy of this program (--run, below): Linux counts the memory of the
// process a child was started from into the child's peak, and this one holds
// decoded photos by then.
Process Run(int repeats, const std::vector<std::string>& command)
{
    Process result;
    std::vector<std::string> words{"/proc/self/exe", "--run", std::to_string(repeats)};
    words.insert(words.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe(pipe) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe[0]);
    pid_t launcher = 0;
    const bool started = posix_spawn(&launcher, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    char answer[128] = {};
    ssize_t got = 0;
    for (ssize_t n; started && got < ssize_t(sizeof answer) - 1 &&
                    (n = ::read(pipe[0], answer + got, sizeof answer - 1 - got)) > 0;)
        got += n;
    ::close(pipe[0]);
    int status = 0;
    if (started)
        waitpid(launcher, &status, 0);
    int ok = 0;
    result.ok = started && std::sscanf(answer, "%lf %lld %d", &result.milliseconds, &result.peakBytes, &ok) == 3 &&
                ok == 1;
    return result;
}

// --run REPEATS PROGRAM ARGS...: prints "milliseconds peak-bytes ok" of the
// best of REPEATS runs. Started fresh, so its children inherit no peak.
int Launch(int repeats, char** command)
{
    double best = 1e300;
    long long peak = 0;
    bool ok = true;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execvp(command[0], command);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child)
            return 1;
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        peak = std::max<long long>(peak, usage.ru_maxrss * 1024LL);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::printf("%f %lld %d\n", best, peak, ok ? 1 : 0);
    return 0;
}

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

void Row(const char* step, double milliseconds, double baseline)
{
    std::printf("  %-34s %9.1f ms %8.3f x\n", step, milliseconds, milliseconds / baseline);
}

constexpr double kMiB = 1024.0 * 1024.0;

// The photo's bytes with an Adobe RGB (1998) profile in APP2 in place of its
// own: the same decoding work, plus the conversion.
bool WriteTagged(const std::vector<unsigned char>& jpeg, const QString& name)
{
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    QByteArray icc(static_cast<qsizetype>(length), '\0');
    cmsSaveProfileToMem(profile, icc.data(), &length);
    cmsCloseProfile(profile);
    if (jpeg.size() < 2 || icc.isEmpty() || icc.size() > 65000)
        return false;
    QByteArray segment("\xFF\xE2", 2);
    const int size = 2 + 14 + static_cast<int>(icc.size());
    segment.append(static_cast<char>(size >> 8)).append(static_cast<char>(size & 0xFF));
    segment.append("ICC_PROFILE", 12).append('\1').append('\1').append(icc);
    // The photo's own profile, if any, makes way.
    QByteArray out(reinterpret_cast<const char*>(jpeg.data()), 2);
    out.append(segment);
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        const bool icc = jpeg[at + 1] == 0xE2 && length >= 14 && at + 4 + 11 <= jpeg.size() &&
                         std::memcmp(&jpeg[at + 4], "ICC_PROFILE", 11) == 0;
        if (!icc)
            out.append(reinterpret_cast<const char*>(&jpeg[at]), static_cast<qsizetype>(std::min(length + 2, jpeg.size() - at)));
        at += length + 2;
    }
    if (at < jpeg.size())
        out.append(reinterpret_cast<const char*>(&jpeg[at]), static_cast<qsizetype>(jpeg.size() - at));
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

// snimkorez-reduce on the photo in another format, made by `encoder`, against
// the untagged JPEG and against `decoder` decoding the same file.
void OtherFormat(const char* label, const std::vector<std::string>& encode, const std::string& file,
                 const std::vector<std::string>& decode, int repeats, const QString& programs,
                 const Process& jpeg)
{
    if (!Run(1, encode).ok) {
        std::printf("  %s: the encoder failed\n", label);
        return;
    }
    const Process ours = Run(repeats, {Utf8(programs + QStringLiteral("/snimkorez-reduce")), "--jobs", "1", file});
    const Process theirs = Run(repeats, decode);
    if (!ours.ok) {
        std::printf("  snimkorez-reduce on %s failed\n", label);
        return;
    }
    std::printf("  %-34s %9.1f ms %8.3f x the JPEG's, %.3f x %s decoding it, %.1f MiB\n",
                (std::string("snimkorez-reduce, ") + label).c_str(), ours.milliseconds,
                ours.milliseconds / jpeg.milliseconds, theirs.ok ? ours.milliseconds / theirs.milliseconds : 0.0,
                decode[0].substr(decode[0].rfind('/') + 1).c_str(), static_cast<double>(ours.peakBytes) / kMiB);
}

// One photo: false when it cannot be read at all.
bool Measure(const QString& photo, int repeats, const QString& programs, const QTemporaryDir& scratch)
{
    const std::vector<unsigned char> bytes = bench::ReadFile(QFile::encodeName(photo).constData());
    if (bytes.empty()) {
        std::fprintf(stderr, "bench_reduce: cannot read %s\n", qPrintable(photo));
        return false;
    }
    const QString copy = scratch.filePath(QFileInfo(photo).fileName());
    QFile::remove(copy);
    if (!QFile::copy(photo, copy)) {
        std::fprintf(stderr, "bench_reduce: cannot copy %s\n", qPrintable(photo));
        return false;
    }

    // The baseline is decoding alone, into memory decoded into before. A
    // program decoding a photo once also has the kernel hand out fresh pages,
    // which is shown beside it.
    double fresh = 0;
    {
        const auto start = std::chrono::steady_clock::now();
        const bench::Picture once = bench::Decode(bytes.data(), bytes.size());
        fresh = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    bench::Picture decoded = bench::Decode(bytes.data(), bytes.size());
    const double baseline = Best(repeats, [&] { bench::Decode(bytes.data(), bytes.size(), decoded); });
    const double decodedBytes = static_cast<double>(decoded.width) * decoded.height * 3;
    decoded = {};

    // The pipeline's stages one by one, as ResizeImage_Block runs them.
    preview::TPMultiImage control;
    const double load = Best(repeats, [&] { control.SetImageName(copy); });
    const imaging::TBitmap& picture = control.Picture().Bitmap();
    if (!picture.HandleAllocated()) {
        std::fprintf(stderr, "bench_reduce: %s did not load\n", qPrintable(photo));
        return false;
    }
    const reduce::Size size = reduce::ReduceSize(picture.Width(), picture.Height(), reduce::kTarget, reduce::kThreshold);
    HGLOBAL block = nullptr;
    const double toBlock = Best(repeats, [&] {
        imaging::FreeDib(block);
        block = nullptr;
        imaging::BitmapToDib(picture, 24, 0, nullptr, nullptr, block);
    });
    HGLOBAL scaled = nullptr;
    const double scale = Best(repeats, [&] {
        imaging::FreeDib(scaled);
        scaled = imaging::ResizeDib(block, size.width, size.height, 24);
    });
    imaging::FreeDib(block);
    imaging::TBitmap small;
    const double toBitmap = Best(repeats, [&] { imaging::DibToBitmap(scaled, small); });
    imaging::FreeDib(scaled);
    preview::TPMultiImage temporary;
    const double sharpen = Best(repeats, [&] {
        temporary.Picture().SetBitmap(small);
        temporary.SharpenImage(0, 0, 0, 0, 2);
    });
    temporary.SetJPegSaveSmooth(0);
    temporary.SetJPegSaveQuality(90);
    const QString output = scratch.filePath(QStringLiteral("pipeline.jpg"));
    const double save = Best(repeats, [&] { temporary.SaveAsJpeg(output); });

    const double whole = Best(repeats, [&] { Reduce(control, output); });
    // Peak added by one reduction, on top of what is resident with the
    // picture loaded (the picture itself is part of the pipeline's cost).
    control.Picture().Clear();
    const long long before = bench::StatusBytes("VmRSS");
    control.SetImageName(copy);
    bench::ResetPeak();
    Reduce(control, output);
    const double pipelinePeak = static_cast<double>(bench::StatusBytes("VmHWM") - before) / decodedBytes;

    const Process ours = Run(repeats, {Utf8(programs + QStringLiteral("/snimkorez-reduce")), "--jobs", "1", Utf8(copy)});

    std::printf("%s  %dx%d -> %dx%d  (%.1f MB file)\n", qPrintable(QFileInfo(photo).fileName()), picture.Width(),
                picture.Height(), size.width, size.height, static_cast<double>(bytes.size()) / 1e6);
    Row("libjpeg-turbo full decode (1.000)", baseline, baseline);
    Row("  the same into fresh memory, once", fresh, baseline);
    Row("load by name", load, baseline);
    Row("bitmap to block", toBlock, baseline);
    Row("scale", scale, baseline);
    Row("block to bitmap", toBitmap, baseline);
    Row("sharpen", sharpen, baseline);
    Row("save", save, baseline);
    Row("reduction, loaded picture -> file", whole, baseline);
    std::printf("  %-34s %9s    %8.3f x\n", "  to the decode into fresh memory", "", whole / fresh);
    std::printf("  %-34s %9.2f x the decoded image (%.0f MiB)\n", "  peak memory of the reduction", pipelinePeak,
                decodedBytes / kMiB);
    if (!ours.ok) {
        std::printf("  snimkorez-reduce failed\n");
        return true;
    }
    Row("snimkorez-reduce", ours.milliseconds, baseline);
    std::printf("  %-34s %9.1f MiB\n", "  peak memory of snimkorez-reduce", static_cast<double>(ours.peakBytes) / kMiB);
    // The coarsest of 1/8, 1/4, 1/2 that keeps twice the output size.
    int denominator = 1;
    for (const int d : {8, 4, 2}) {
        if ((picture.Width() + d - 1) / d >= 2 * size.width && (picture.Height() + d - 1) / d >= 2 * size.height) {
            denominator = d;
            break;
        }
    }
    const Process floor = Run(repeats, {SNIMKOREZ_DECODE_FLOOR, std::to_string(denominator), Utf8(copy)});
    if (floor.ok) {
        const std::string label = "decode alone at 1/" + std::to_string(denominator) + " (floor)";
        Row(label.c_str(), floor.milliseconds, baseline);
        std::printf("  %-34s %9s    %8.3f x the floor (%.1f MiB)\n", "  snimkorez-reduce", "",
                    ours.milliseconds / floor.milliseconds, static_cast<double>(floor.peakBytes) / kMiB);
    }

    const QString tagged = scratch.filePath(QStringLiteral("tagged-") + QFileInfo(photo).fileName());
    if (WriteTagged(bytes, tagged)) {
        preview::TPMultiImage taggedControl;
        const double taggedLoad = Best(repeats, [&] { taggedControl.SetImageName(tagged); });
        const Process taggedOurs =
            Run(repeats, {Utf8(programs + QStringLiteral("/snimkorez-reduce")), "--jobs", "1", Utf8(tagged)});
        std::printf("  %-34s %9.1f ms %8.3f x the untagged load\n", "load by name, Adobe RGB", taggedLoad,
                    taggedLoad / load);
        if (taggedOurs.ok)
            std::printf("  %-34s %9.1f ms %8.3f x the untagged file\n", "snimkorez-reduce, Adobe RGB",
                        taggedOurs.milliseconds, taggedOurs.milliseconds / ours.milliseconds);
        QFile::remove(tagged);
    }
    const QString heifEnc = QStandardPaths::findExecutable(QStringLiteral("heif-enc"));
    const QString heifConvert = QStandardPaths::findExecutable(QStringLiteral("heif-convert"));
    if (!heifEnc.isEmpty() && !heifConvert.isEmpty()) {
        const std::string heic = Utf8(scratch.filePath(QStringLiteral("photo.heic")));
        OtherFormat("HEIC", {Utf8(heifEnc), "-q", "85", Utf8(copy), "-o", heic}, heic,
                    {Utf8(heifConvert), heic, Utf8(scratch.filePath(QStringLiteral("decoded.y4m")))}, repeats,
                    programs, ours);
    }
    const QString cwebp = QStandardPaths::findExecutable(QStringLiteral("cwebp"));
    const QString dwebp = QStandardPaths::findExecutable(QStringLiteral("dwebp"));
    if (!cwebp.isEmpty() && !dwebp.isEmpty()) {
        const std::string webp = Utf8(scratch.filePath(QStringLiteral("photo.webp")));
        OtherFormat("WebP", {Utf8(cwebp), "-quiet", "-q", "85", Utf8(copy), "-o", webp}, webp,
                    {Utf8(dwebp), "-quiet", webp, "-ppm", "-o", "/dev/null"}, repeats, programs, ours);
    }

    // The general tools on the same photo, with the same target box.
    Process fastest;
    const QString gm = QStandardPaths::findExecutable(QStringLiteral("gm"));
    if (!gm.isEmpty()) {
        const std::string hint = std::to_string(2 * size.width) + "x" + std::to_string(2 * size.height);
        const Process theirs = Run(repeats, {Utf8(gm), "convert", "-size", hint, Utf8(copy), "-resize", "728x728",
                                             "-unsharp", "0x0.75+0.75+0.008", "-quality", "90",
                                             Utf8(scratch.filePath(QStringLiteral("gm.jpg")))});
        if (theirs.ok) {
            Row("GraphicsMagick", theirs.milliseconds, baseline);
            std::printf("  %-34s %9.1f MiB\n", "  peak memory of GraphicsMagick",
                        static_cast<double>(theirs.peakBytes) / kMiB);
            fastest = theirs;
        }
    }
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (!vips.isEmpty()) {
        const Process theirs = Run(repeats, {Utf8(vips), Utf8(copy), "-s", "728x728", "-o",
                                             Utf8(scratch.filePath(QStringLiteral("vips.jpg"))) + "[Q=90]"});
        if (theirs.ok) {
            Row("vipsthumbnail", theirs.milliseconds, baseline);
            std::printf("  %-34s %9.1f MiB\n", "  peak memory of vipsthumbnail",
                        static_cast<double>(theirs.peakBytes) / kMiB);
            if (!fastest.ok || theirs.milliseconds < fastest.milliseconds)
                fastest = theirs;
        }
    }
    if (fastest.ok)
        std::printf("  snimkorez-reduce / faster general tool: %.3f x time, %.2f x memory\n",
                    ours.milliseconds / fastest.milliseconds,
                    static_cast<double>(ours.peakBytes) / static_cast<double>(fastest.peakBytes));
    else
        std::printf("  (install graphicsmagick and libvips-tools to compare with them)\n");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 3 && std::strcmp(argv[1], "--run") == 0)
        return Launch(std::max(1, std::atoi(argv[2])), argv + 3);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int repeats = 3;
    QStringList photos;
    const QStringList arguments = application.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--repeats") && i + 1 < arguments.size())
            repeats = std::max(1, arguments[++i].toInt());
        else
            photos.append(arguments[i]);
    }
    if (photos.isEmpty()) {
        std::fprintf(stderr, "usage: bench_reduce [--repeats N] PHOTO.jpg...\n"
                             "(Debian's lomiri-wallpapers has photos in /usr/share/backgrounds)\n");
        return 2;
    }
    // The modules and snimkorez-reduce are in the build folder's root.
    const QString programs = QStringLiteral(SNIMKOREZ_PROGRAM_DIR);
    imaging::DLL96V1::Initialize();
    imaging::DllSP96::Initialize();
    imaging::DLL96V1::SetDllDirectory(programs);
    const QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "bench_reduce: no temporary folder\n");
        return 1;
    }
    std::printf("best of %d; ratios to a plain libjpeg-turbo full decode of the same photo\n\n", repeats);
    int failed = 0;
    for (const QString& photo : photos) {
        if (!Measure(photo, repeats, programs, scratch))
            ++failed;
        std::printf("\n");
        std::fflush(stdout);
    }
    imaging::DllSP96::Finalize();
    imaging::DLL96V1::Finalize();
    return failed == 0 ? 0 : 1;
}
