#include "TestBlocks.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/EFOpenError.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"
#include "imaging/MessageHandler.h"
#include "imaging/ModuleLoader.h"
#include "platform/PrivateProfile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

using namespace imaging;
using namespace testblocks;

namespace {

const QString kModuleDir = QStringLiteral(SNIMKOREZ_MODULE_DIR);
const QString kFakeDir = QStringLiteral(SNIMKOREZ_FAKE_MODULE_DIR);
const QString kCantLoad = QStringLiteral(". Make sure its located in the application's searchpath.");

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A function the fake module exports for the tests.
template <class Fn>
Fn Fake(ModuleHandle module, const char* name)
{
    return reinterpret_cast<Fn>(dlsym(module, name));
}

HGLOBAL OneBitBlock()
{
    return Make(8, 1, 1, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, Stored({Bytes({0xA5})}, 4));
}

}  // namespace

class BindingTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;
    QTemporaryDir m_temp;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_temp.isValid());
        SetMessageHandler([this](const QString& text) { m_messages << text; });
    }

    void init()
    {
        DLL96V1::Finalize();
        DllSP96::Finalize();
        DLL96V1::Initialize();
        DllSP96::Initialize();
        DLL96V1::SetDllDirectory(kModuleDir);
        m_messages.clear();
    }

    void cleanupTestCase()
    {
        DLL96V1::Finalize();
        DllSP96::Finalize();
    }

    void startUpRecordsProgramName()
    {
        const QString ini = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                            QStringLiteral("/snimkorez/iltwain.ini");
        QCOMPARE(platform::GetPrivateProfileString(QStringLiteral("Imaging Twain"),
                                                   QStringLiteral("App Name"), QString(), ini),
                 QStringLiteral("binding_test"));
        QCOMPARE(DllSP96::EffectsHelpPath(), ProgramFolder() + QStringLiteral("/effects.hlp"));
        QVERIFY(DLL96V1::DllDirectory() == kModuleDir);
        DLL96V1::Initialize();
        QVERIFY(DLL96V1::DllDirectory().isEmpty());
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{0});
    }

    // Each module is loaded once, from the DLL directory, which gains its separator.
    void loadsOnceFromDllDirectory()
    {
        QVERIFY(!kModuleDir.endsWith(QLatin1Char('/')));
        HGLOBAL block = OneBitBlock();
        const int before = LoadCount();
        HGLOBAL first = DLL96V1::DIB1To8(block);
        QVERIFY(first);
        QCOMPARE(DLL96V1::DllDirectory(), kModuleDir + QLatin1Char('/'));
        QCOMPARE(LoadCount(), before + 1);
        Dl_info info{};
        QVERIFY(dladdr(DLL96V1::Handle() ? dlsym(DLL96V1::Handle(), "DIB1To8") : nullptr, &info));
        QCOMPARE(QString::fromLocal8Bit(info.dli_fname), kModuleDir + QStringLiteral("/CRDE2001.so"));
        HGLOBAL second = DLL96V1::DIB1To8(block);
        QVERIFY(second);
        QCOMPARE(LoadCount(), before + 1);

        QVERIFY(DllSP96::Resolve("ScaleDib"));
        QVERIFY(DllSP96::Resolve("ReduceDib"));
        QCOMPARE(LoadCount(), before + 2);
        QVERIFY(m_messages.isEmpty());
        for (HGLOBAL h : {block, first, second})
            FreeDib(h);
    }

    void modulesThatCannotBeFound()
    {
        QTemporaryDir empty;
        DLL96V1::SetDllDirectory(empty.path());
        HGLOBAL block = OneBitBlock();
        try {
            (void)DLL96V1::DIB1To8(block);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(), QStringLiteral("Can't load CRDE2001.so") + kCantLoad);
        }
        QVERIFY(!DllSP96::ScaleDib(block, 2, 2));
        QCOMPARE(m_messages, QStringList{QStringLiteral("Can't load ISP2000.so") + kCantLoad});
        FreeDib(block);
    }

    // Entries a loaded module lacks: silence for processing and codec
    // wrappers, an error for the annotation layer.
    void missingEntries()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        HGLOBAL block = OneBitBlock();
        QVERIFY(!DLL96V1::DIB4To8(block));
        QVERIFY(!DllSP96::Better(block, 10, 0, 0, 1, 1, nullptr, nullptr));
        const QString file = m_temp.filePath(QStringLiteral("picture.png"));
        WriteFile(file, QByteArray(64, 'x'));
        QString format, compression;
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = 0;
        DLL96V1::RecordError(-1);
        QVERIFY(!DLL96V1::fileinfo(file, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{-1});
        QVERIFY(m_messages.isEmpty());
        try {
            DLL96V1::ClearAnnotation(nullptr);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(),
                     QStringLiteral("Error. Could not get a procaddress for ClearAnnotation. This could "
                                    "berelated to a dll name or version missmatch of CRDE2001.so"));
        }
        FreeDib(block);
    }

    void annotationEntriesOfTheRealModule()
    {
        int control = 0;
        DLL96V1::InitAnnotation(&control, nullptr, &control, nullptr, nullptr, nullptr, nullptr,
                                nullptr, m_temp.path());
        DLL96V1::DrawAnnotation(&control, 1.0, 0, 0, 0, 0, 16);
        DLL96V1::ClearAnnotation(&control);
        DLL96V1::DestroyAnnotation(&control);
        QVERIFY(DLL96V1::Handle());
    }

    // Files under 30 bytes never reach the module and change no error.
    void shortFilesAreRefused()
    {
        const QString short29 = m_temp.filePath(QStringLiteral("short.bmp"));
        const QString long30 = m_temp.filePath(QStringLiteral("long.bmp"));
        WriteFile(short29, QByteArray(29, 'B'));
        WriteFile(long30, QByteArray(30, 'B'));
        DLL96V1::RecordError(-1);
        HGLOBAL dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(short29, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{-1});
        QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("Unknown error in Imaging Dll"));
        QVERIFY(DLL96V1::StatusText().isEmpty());

        QVERIFY(!DLL96V1::rdbmpfiledib(long30, 24, 0, dib, nullptr, nullptr));
        QVERIFY(DLL96V1::ErrorNumber() < -1);
        QVERIFY(!DLL96V1::ErrorText().isEmpty());
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Reading ") + long30);
        QVERIFY(!dib);

        QVERIFY_THROWS_EXCEPTION(EFOpenError,
                                 DLL96V1::rdbmpfiledib(m_temp.filePath(QStringLiteral("none.bmp")), 24,
                                                       0, dib, nullptr, nullptr));
    }

    // A name that does not fit the module's 512-byte buffer is not cut short
    // (which would name another file) but refused as unopenable.
    void namesTooLongForTheModule()
    {
        QString folder = m_temp.path();
        for (int i = 0; i < 3; ++i) {
            folder += QLatin1Char('/') + QString(200, QLatin1Char('d'));
            QVERIFY(QDir().mkpath(folder));
        }
        const QString name = folder + QStringLiteral("/picture.bmp");
        QVERIFY(QFile::encodeName(name).size() >= IL_NAME_BUFFER);
        WriteFile(name, QByteArray(64, 'B'));
        DLL96V1::SetDllDirectory(kFakeDir);
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(name, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_OPEN});
        QVERIFY(DLL96V1::StatusText().isEmpty());
    }

    // A failed JPEG read or write unloads the codec module; the next call loads it again.
    void jpegFailureUnloadsTheCodecModule()
    {
        const QString garbage = m_temp.filePath(QStringLiteral("garbage.jpg"));
        QByteArray bytes(100, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 37 + 11);
        WriteFile(garbage, bytes);
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdjpgfiledib(garbage, 24, 0, dib, nullptr, nullptr));
        QVERIFY(!dib);
        QVERIFY(DLL96V1::ErrorNumber() < 0);
        QVERIFY(!DLL96V1::ErrorText().isEmpty());
        QVERIFY(!DLL96V1::Handle());

        const int before = LoadCount();
        HGLOBAL block = OneBitBlock();
        HGLOBAL wide = DLL96V1::DIB1To24(block);
        QVERIFY(wide);
        QCOMPARE(LoadCount(), before + 1);
        QVERIFY(DLL96V1::Handle());

        QVERIFY(!DLL96V1::wrjpgfiledib(m_temp.filePath(QStringLiteral("out.jpg")), 0, 1, 24, wide,
                                       nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_ARGUMENT});
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Writing ") + m_temp.filePath(QStringLiteral("out.jpg")));
        QVERIFY(!DLL96V1::Handle());
        FreeDib(block);
        FreeDib(wide);
    }

    void errorTexts_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << -1 << QStringLiteral("Unknown error in Imaging Dll");
        QTest::newRow("in the table") << int{IL_ERR_CORRUPT} << QStringLiteral("fake: corrupt");
        QTest::newRow("not in the table") << int{IL_ERR_WRITE} << QString();
    }

    void errorTexts()
    {
        QFETCH(int, number);
        QFETCH(QString, text);
        DLL96V1::SetDllDirectory(kFakeDir);
        HGLOBAL block = OneBitBlock();
        HGLOBAL converted = DLL96V1::DIB1To8(block);  // loads the fake module
        DLL96V1::RecordError(static_cast<int16_t>(number));
        QCOMPARE(DLL96V1::ErrorNumber(), static_cast<int16_t>(number));
        QCOMPARE(DLL96V1::ErrorText(), text);
        FreeDib(block);
        FreeDib(converted);
    }

    void codecFailureIsRecorded()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        const QString file = m_temp.filePath(QStringLiteral("damaged.bmp"));
        WriteFile(file, QByteArray(40, 'B'));
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(file, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_CORRUPT});
        QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("fake: corrupt"));
        QVERIFY(DLL96V1::Handle());  // only JPEG failures unload

        // Page information succeeds with 0, and its failures are not recorded.
        int32_t width = 0, height = 0;
        int16_t bits = 0, pages = 0;
        QString compression;
        QVERIFY(DLL96V1::getinfo(file, 0, width, height, bits, pages, compression));
        QCOMPARE(width, 7);
        QVERIFY(!DLL96V1::getinfo(file, 1, width, height, bits, pages, compression));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_CORRUPT});
    }

    // An exception caught inside a module: the trap message, a failed call,
    // the module kept; the report is taken, so the next call is clean.
    void exceptionTrap()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        HGLOBAL block = OneBitBlock();
        QVERIFY(DllSP96::Resolve("ScaleDib"));
        HGLOBAL converted = DLL96V1::DIB1To8(block);
        QVERIFY(converted);
        const auto setCrde = Fake<void (*)(int)>(DLL96V1::Handle(), "FakeSetThrow");
        const auto setIsp = Fake<void (*)(int)>(DllSP96::Handle(), "FakeSetThrow");
        QVERIFY(setCrde && setIsp);
        setCrde(1);
        setIsp(1);

        const QString trap = QString::fromLatin1(kTrapMessage);
        QVERIFY(!DLL96V1::DIB1To8(block));
        QCOMPARE(m_messages, QStringList{trap});
        QVERIFY(!DllSP96::ScaleDib(converted, 2, 2));
        QCOMPARE(m_messages.size(), 2);
        QCOMPARE(m_messages.last(), trap);

        const QString file = m_temp.filePath(QStringLiteral("trap.bmp"));
        WriteFile(file, QByteArray(40, 'B'));
        DLL96V1::RecordError(-1);
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(file, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(m_messages.size(), 3);
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{-1});
        QVERIFY(DLL96V1::Handle());
        QVERIFY(DllSP96::Handle());

        setCrde(0);
        setIsp(0);
        HGLOBAL again = DLL96V1::DIB1To8(block);
        QVERIFY(again);
        QCOMPARE(m_messages.size(), 3);
        for (HGLOBAL h : {block, converted, again})
            FreeDib(h);
    }

    void moduleNameCheck()
    {
        QTemporaryDir folder;
        const QString fake = kFakeDir + QStringLiteral("/CRDE2001.so");
        QVERIFY(QFile::copy(fake, folder.filePath(QStringLiteral("WRONG2001.so"))));
        QVERIFY(QFile::copy(fake, folder.filePath(QStringLiteral("MYCRDE.so"))));
        DLL96V1::SetDllDirectory(folder.path());

        ModuleHandle handle = nullptr;
        void* proc = nullptr;
        QVERIFY(!DLL96V1::LoadProc(handle, QStringLiteral("WRONG2001.so"), "DIB1To8", proc));
        QCOMPARE(m_messages, QStringList{QStringLiteral("Wrong dll Name in DLL96V1")});
        QVERIFY(!handle);
        QVERIFY(!proc);

        QVERIFY(DLL96V1::LoadProc(handle, QStringLiteral("MYCRDE.so"), "DIB1To8", proc));
        QVERIFY(handle);
        QCOMPARE(proc, dlsym(handle, "DIB1To8"));
        QVERIFY(!DLL96V1::LoadProc(handle, QStringLiteral("MYCRDE.so"), "NoSuchEntry", proc));
        QVERIFY(handle);
        FreeModule(handle);
        QCOMPARE(m_messages.size(), 1);
    }

    // Depends on ISP2000's ScaleDib.
    void scaleWithTheRealModule()
    {
        const QByteArray pixels = Stored({QByteArray(12, '\x40'), QByteArray(12, '\x80')}, 12);
        HGLOBAL block = Make(4, 2, 24, {}, pixels);
        const QByteArray before = BytesOf(block);
        HGLOBAL scaled = ResizeDib(block, 2, 1, 24);
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Resizing Image"));
        QVERIFY(scaled);
        const BITMAPINFOHEADER header = HeaderOf(scaled);
        QCOMPARE(header.biWidth, 2);
        QCOMPARE(header.biHeight, 1);
        QCOMPARE(header.biBitCount, uint16_t{24});
        QCOMPARE(BytesOf(block), before);
        FreeDib(block);
        FreeDib(scaled);
    }

    // The branches of scaling, counted in the fake processing module.
    void scaleBranches_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("resultDepth");
        QTest::addColumn<int>("reduceCalls");
        QTest::newRow("24 bits: scaled as it is") << 24 << 8 << 24 << 0;
        QTest::newRow("8 bits back to 8") << 8 << 8 << 8 << 1;
        QTest::newRow("8 bits kept at 24") << 8 << 24 << 24 << 0;
        QTest::newRow("280 is 24 as a byte") << 8 << 280 << 24 << 0;
        QTest::newRow("1 bit comes back as 4") << 1 << 1 << 4 << 1;
        QTest::newRow("4 bits back to 4") << 4 << 8 << 4 << 1;
    }

    void scaleBranches()
    {
        QFETCH(int, depth);
        QFETCH(int, requested);
        QFETCH(int, resultDepth);
        QFETCH(int, reduceCalls);
        DLL96V1::SetDllDirectory(kFakeDir);
        QVERIFY(DllSP96::Resolve("ScaleDib"));
        DLL96V1::SetDllDirectory(kModuleDir);  // the real codec module for the depth steps
        const auto scaleCalls = Fake<int (*)()>(DllSP96::Handle(), "FakeScaleCalls");
        const auto reduces = Fake<int (*)()>(DllSP96::Handle(), "FakeReduceCalls");
        QVERIFY(scaleCalls && reduces);
        const int scaledBefore = scaleCalls();
        const int reducedBefore = reduces();

        const QList<QRgb> palette = depth <= 8 ? QList<QRgb>(1 << depth, qRgb(1, 2, 3)) : QList<QRgb>();
        const int stride = static_cast<int>(DibStride(4, depth));
        HGLOBAL block = Make(4, 4, depth, palette, QByteArray(stride * 4, '\x11'));
        const QByteArray before = BytesOf(block);
        HGLOBAL scaled = ResizeDib(block, 2, 3, requested);
        QVERIFY(scaled);
        QCOMPARE(int{HeaderOf(scaled).biBitCount}, resultDepth);
        QCOMPARE(HeaderOf(scaled).biWidth, 2);
        QCOMPARE(HeaderOf(scaled).biHeight, 3);
        QCOMPARE(scaleCalls() - scaledBefore, 1);
        QCOMPARE(reduces() - reducedBefore, reduceCalls);
        QCOMPARE(BytesOf(block), before);
        QVERIFY(m_messages.isEmpty());
        FreeDib(block);
        FreeDib(scaled);
    }

    void scaleWithoutABlockReadsNothing()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        QVERIFY(DllSP96::Resolve("ScaleDib"));
        const auto scaleCalls = Fake<int (*)()>(DllSP96::Handle(), "FakeScaleCalls");
        const int before = scaleCalls();
        QVERIFY(!ResizeDib(nullptr, 10, 10, 24));
        HGLOBAL tiny = GlobalAlloc(GHND, 8);
        QVERIFY(!ResizeDib(tiny, 10, 10, 24));
        QCOMPARE(scaleCalls(), before);
        FreeDib(tiny);
    }

    void reduceDepthOfA32BitBlockGoesTo24()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        QVERIFY(DllSP96::Resolve("ReduceDib"));
        DLL96V1::SetDllDirectory(kModuleDir);
        const auto reduces = Fake<int (*)()>(DllSP96::Handle(), "FakeReduceCalls");
        const int before = reduces();
        HGLOBAL block = Make(1, 1, 32, {}, Bytes({1, 2, 3, 4}));
        HGLOBAL reduced = ReduceDepth(block, 8, 0, nullptr, nullptr);
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Reducing colors "));
        QVERIFY(reduced);
        QCOMPARE(HeaderOf(reduced).biBitCount, uint16_t{24});
        QCOMPARE(reduces(), before);
        QVERIFY(!ReduceDepth(nullptr, 8, 0, nullptr, nullptr));
        QCOMPARE(reduces(), before);
        FreeDib(block);
        FreeDib(reduced);
    }

    void undoStoreKeepsTheLastFour()
    {
        QVERIFY(!DllSP96::UndoAvailable());
        QVERIFY(!DllSP96::UndoBitmap(0).HandleAllocated());
        for (int i = 1; i <= 5; ++i)
            DllSP96::PushUndo(TBitmap(QImage(i, 1, QImage::Format_RGB32)));
        QVERIFY(DllSP96::UndoAvailable());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(DllSP96::UndoBitmap(i).Width(), 5 - i);
        DllSP96::Finalize();
        QVERIFY(!DllSP96::UndoAvailable());
    }
};

QTEST_GUILESS_MAIN(BindingTest)
#include "binding_test.moc"
