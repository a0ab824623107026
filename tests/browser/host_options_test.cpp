// The browser host's values that bind the engine: every flag of both option
// sets, the derived values, the hook answers and the keystroke rule.
#include "browser/HostOptions.h"

#include <QTest>

using namespace browser;

class HostOptionsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void downloadFlags()
    {
        const uint32_t expected[kDownloadControlOptionCount] = {
            0x10,   0x20,    0x40,    0x80,       0x100,      0x200,      0x400,      0x800,      0x1000, 0x2000,
            0x4000, 0x8000, 0x10000, 0x20000, 0x40000, 0x10000000, 0x20000000, 0x40000000, 0x80000000};
        uint32_t all = 0;
        for (int i = 0; i < kDownloadControlOptionCount; ++i) {
            QCOMPARE(FlagValue(TDownloadControlOption(i)), expected[i]);
            QCOMPARE(all & expected[i], 0u);  // one bit each, none shared
            all |= expected[i];
        }
        QCOMPARE(DownloadControlValue({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
                                       TDownloadControlOption::DLCTL_BGSOUNDS}),
                 0x70u);
        QCOMPARE(DownloadControlValue({}), 0u);
        QCOMPARE(DownloadControlValue({TDownloadControlOption::DLCTL_NO_SCRIPTS, TDownloadControlOption::DLCTL_OFFLINE}),
                 0x80000080u);
    }

    void interfaceFlags()
    {
        const uint32_t expected[kUserInterfaceOptionCount] = {0x1,   0x2,   0x4,    0x8,    0x10,   0x20,
                                                              0x40,  0x80,  0x100,  0x200,  0x400,  0x800,
                                                              0x1000, 0x2000, 0x4000, 0x10000, 0x20000};
        for (int i = 0; i < kUserInterfaceOptionCount; ++i)
            QCOMPARE(FlagValue(TUserInterfaceOption(i)), expected[i]);
        QCOMPARE(UserInterfaceValue({}), 0u);
        QCOMPARE(UserInterfaceValue({TUserInterfaceOption::DIALOG, TUserInterfaceOption::IME_ENABLE_RECONVERSION}),
                 0x20001u);
    }

    void hookAnswers()
    {
        for (const HostRequest request :
             {HostRequest::ShowContextMenu, HostRequest::ShowUI, HostRequest::HideUI, HostRequest::UpdateUI,
              HostRequest::EnableModeless, HostRequest::DocWindowActivate, HostRequest::FrameWindowActivate,
              HostRequest::ResizeBorder, HostRequest::TranslateAccelerator, HostRequest::OptionKeyPath,
              HostRequest::TranslateUrl, HostRequest::ShowMessage, HostRequest::GetExternal,
              HostRequest::FilterDataObject})
            QCOMPARE(DefaultAnswer(request), kNotHandled);
        QCOMPARE(DefaultAnswer(HostRequest::GetDropTarget), kOk);
        QCOMPARE(DefaultAnswer(HostRequest::OverrideKeyPath), kOk);
        QCOMPARE(DefaultAnswer(HostRequest::CommandStatus), kOk);
        QCOMPARE(DefaultAnswer(HostRequest::ShowHelp), kNotHandled);
        QCOMPARE(DefaultAnswer(HostRequest::ShowHelp, true), kOk);
        QCOMPARE(DefaultAnswer(HostRequest::TypeInfo), kNotImplemented);
        QCOMPARE(DefaultAnswer(HostRequest::IdsOfNames), kNotImplemented);
        QCOMPARE(DefaultAnswer(HostRequest::QueryService), kNoInterface);
        QCOMPARE(DefaultAnswer(HostRequest::CommandExec, false, true), kCommandNotSupported);
        QCOMPARE(DefaultAnswer(HostRequest::CommandExec), kUnknownGroup);
    }

    void keystrokes()
    {
        QVERIFY(!OfferedToAccelerators(8, false));
        QVERIFY(!OfferedToAccelerators(13, true));
        QVERIFY(!OfferedToAccelerators(0x25, true));
        QVERIFY(!OfferedToAccelerators(0x27, true));
        QVERIFY(OfferedToAccelerators(0x25, false));  // the keypad's 4
        QVERIFY(OfferedToAccelerators(0x27, false));
        QVERIFY(OfferedToAccelerators(9, false));  // Tab
        QVERIFY(OfferedToAccelerators(0x26, true));  // Up
        QVERIFY(OfferedToAccelerators('A', false));
    }
};

QTEST_APPLESS_MAIN(HostOptionsTest)
#include "host_options_test.moc"
