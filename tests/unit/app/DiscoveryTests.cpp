// Drive discovery as the main window runs it, against a scripted ASPI manager: which adapters and
// targets are asked, the commands each CD-ROM-class target gets, which inquiry data is taken for
// a loader, the captions of the tick boxes, and the ways discovery ends the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/MainUnit.h"
#include "scsi/RequestBlocks.h"
#include "tests/unit/fakes/FakeAspiManager.h"
#include "tests/unit/fakes/RecordingMessages.h"
#include "ui/Application.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Text(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

// The loader's own inquiry data: device type, flags, version, lengths, then vendor, product and
// revision as the drive reports them in loader mode.
Bytes LoaderInquiry() {
    Bytes data = {0x05, 0x80, 0x02, 0x02, 0x1F, 0x00, 0x00, 0x00};
    Bytes text = Text("VANDREL  Program Mode1  1.00");
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

Bytes InquiryWith(const std::string &vendorProductRevision) {
    Bytes data = LoaderInquiry();
    data.resize(8);
    Bytes text = Text(vendorProductRevision);
    data.insert(data.end(), text.begin(), text.end());
    data.resize(36, ' ');
    return data;
}

const std::string DefaultIdentity = "VANDREL ZD-M770B LOADER 1.10"; // 28 characters

Bytes Identity(const std::string &text) {
    Bytes data = Text(text);
    data.resize(32, 0);
    return data;
}

// A window built from the main window's layout, without the creation handler (discovery is
// called by the test, and no firmware image is loaded).
class TDiscoveryForm : public TMainForm {
  public:
    using TMainForm::TMainForm;

  protected:
    void FormCreate() override {}
};

// The drives behind the scripted manager: CD-ROM-class targets with their inquiry and identity
// answers, keyed by (adapter, target). A target without an identity answers 0xE3 with CHECK
// CONDITION, like a drive that does not know the command.
class DiscoveryTest : public ::testing::Test {
  protected:
    struct Drive {
        Bytes inquiry;
        Bytes identity;
        BYTE deviceType = DTYPE_CDROM;
        bool inquiryFails = false;
        bool identityFails = false;
    };

    void SetUp() override {
        Application.Initialize();
        ResetRecordedMessages();
        HostAdapterId = 0xEE;
        std::memset(SharedDataBuffer, 0, DataBufferSize);
        form = std::make_unique<TDiscoveryForm>(Application);
        form->CreateHandleAndRunCreate();
        MainForm = form.get();
        aspi.SetSupportInfo(0x0101);
        aspi.SetExecRule([this](const SRB_ExecSCSICmd &request) { return Answer(request); });
    }

    void TearDown() override {
        MainForm = nullptr;
        form.reset();
    }

    void AddAdapters(int count) {
        for (int a = 0; a < count; ++a)
            aspi.ScriptAdapter(static_cast<BYTE>(a), SS_COMP, static_cast<BYTE>(count));
    }

    void AddDrive(int adapter, int target, const Drive &drive) {
        drives[{adapter, target}] = drive;
        aspi.ScriptDevice(static_cast<BYTE>(adapter), static_cast<BYTE>(target), drive.deviceType);
    }

    void AddLoader(int adapter, int target, const std::string &identity = DefaultIdentity) {
        AddDrive(adapter, target, {LoaderInquiry(), Identity(identity)});
    }

    FakeAspiManager::ExecAnswer Answer(const SRB_ExecSCSICmd &request) {
        auto found = drives.find({request.SRB_HaId, request.SRB_Target});
        if (found == drives.end()) {
            FakeAspiManager::ExecAnswer absent;
            absent.status = SS_ERR;
            absent.haStat = HASTAT_SEL_TO;
            return absent;
        }
        const Drive &drive = found->second;
        switch (request.CDBByte[0]) {
        case 0x12:
            if (drive.inquiryFails) {
                FakeAspiManager::ExecAnswer lost;
                lost.status = SS_ERR;
                lost.haStat = HASTAT_SEL_TO;
                return lost;
            }
            return FakeAspiManager::Good(drive.inquiry);
        case 0xE3:
            if (drive.identityFails || drive.identity.empty())
                return FakeAspiManager::SenseError(0x05, 0x20, 0x00);
            return FakeAspiManager::Good(drive.identity);
        default:
            return FakeAspiManager::Good();
        }
    }

    // The adapter numbers asked with SC_HA_INQUIRY, in order.
    std::vector<int> AdaptersAsked() const {
        std::vector<int> asked;
        for (const auto &s : aspi.Submissions())
            if (s.command == SC_HA_INQUIRY)
                asked.push_back(s.adapterInquiry.SRB_HaId);
        return asked;
    }

    // The (adapter, target) pairs asked for their device type, in order.
    std::vector<std::pair<int, int>> DeviceTypesAsked() const {
        std::vector<std::pair<int, int>> asked;
        for (const auto &s : aspi.Submissions())
            if (s.command == SC_GET_DEV_TYPE)
                asked.push_back({s.deviceType.SRB_HaId, s.deviceType.SRB_Target});
        return asked;
    }

    // The opcodes sent to one target, in order.
    std::vector<int> OpcodesTo(int adapter, int target) const {
        std::vector<int> opcodes;
        for (const auto &s : aspi.ExecSubmissions())
            if (s.exec.SRB_HaId == adapter && s.exec.SRB_Target == target)
                opcodes.push_back(s.exec.CDBByte[0]);
        return opcodes;
    }

    // Tick boxes 1..7: visible, ticked, caption.
    void ExpectBoxes(const std::map<int, std::string> &filled) {
        for (int n = 1; n <= 7; ++n) {
            SCOPED_TRACE("CheckBox" + std::to_string(n));
            TCheckBox &box = form->TickBox(n);
            auto expected = filled.find(n);
            if (expected == filled.end()) {
                EXPECT_FALSE(box.Visible());
                EXPECT_FALSE(box.Checked());
                EXPECT_EQ("", box.Caption());
            } else {
                EXPECT_TRUE(box.Visible());
                EXPECT_TRUE(box.Checked());
                EXPECT_EQ(expected->second, box.Caption());
            }
        }
    }

    FakeAspiManager aspi;
    std::map<std::pair<int, int>, Drive> drives;
    std::unique_ptr<TDiscoveryForm> form;
};

const std::vector<int> AllAdapters = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST_F(DiscoveryTest, LoadersAtTargetsOneAndFourFillTheirTwoBoxesOnly) {
    AddAdapters(1);
    AddLoader(0, 1);
    AddLoader(0, 4, "VANDREL ZD-M770B LOADER 1.00");
    EXPECT_EQ(0, form->FindLoaderDrives());
    ExpectBoxes(
        {{2, "(0,1) VANDREL ZD-M770B LOADER 1.10"}, {5, "(0,4) VANDREL ZD-M770B LOADER 1.00"}});
    EXPECT_EQ(0, HostAdapterId);
    EXPECT_TRUE(RecordedMessages().empty());
}

// Each CD-ROM-class target gets five TEST UNIT READY and one INQUIRY of 36 bytes; a loader then
// gets its identity command; a target of another class gets nothing. Target 7 is never asked.
TEST_F(DiscoveryTest, EveryTargetOfTheAdapterIsAskedAndEachCdromGetsTheSameCommands) {
    AddAdapters(1);
    AddDrive(0, 0, {InquiryWith("OTHERCO CD-ROM XM-1     2.00"), {}});
    AddDrive(0, 3, {LoaderInquiry(), Identity(DefaultIdentity), DTYPE_DASD}); // a disk
    AddLoader(0, 6);
    AddLoader(0, 7);
    EXPECT_EQ(0, form->FindLoaderDrives());

    std::vector<std::pair<int, int>> targets;
    for (int t = 0; t <= 6; ++t)
        targets.push_back({0, t});
    EXPECT_EQ(targets, DeviceTypesAsked());
    const std::vector<int> cdrom = {0x00, 0x00, 0x00, 0x00, 0x00, 0x12};
    std::vector<int> loader = cdrom;
    loader.push_back(0xE3);
    EXPECT_EQ(cdrom, OpcodesTo(0, 0));
    EXPECT_EQ(std::vector<int>{}, OpcodesTo(0, 3));
    EXPECT_EQ(loader, OpcodesTo(0, 6));
    EXPECT_EQ(std::vector<int>{}, OpcodesTo(0, 7));
    ExpectBoxes({{7, "(0,6) " + DefaultIdentity}});

    for (const auto &s : aspi.ExecSubmissions()) {
        if (s.exec.CDBByte[0] != 0x12)
            continue;
        const BYTE inquiry[6] = {0x12, 0, 0, 0, 36, 0};
        EXPECT_EQ(0, std::memcmp(inquiry, s.exec.CDBByte, 6));
        EXPECT_EQ(6, s.exec.SRB_CDBLen);
        EXPECT_EQ(36u, s.exec.SRB_BufLen);
        EXPECT_EQ(0, s.exec.SRB_Lun);
    }
}

// Ten adapter numbers whatever count ASPI reports, none above 9; a loader on the last one is
// found although ASPI said there was one adapter.
TEST_F(DiscoveryTest, AdapterNumbersZeroToNineAreAskedWhateverTheReportedCount) {
    for (int a = 0; a <= 12; ++a)
        aspi.ScriptAdapter(static_cast<BYTE>(a), SS_COMP, 13);
    AddLoader(9, 2);
    AddLoader(10, 3);
    EXPECT_EQ(0, form->FindLoaderDrives());
    EXPECT_EQ(AllAdapters, AdaptersAsked());
    EXPECT_EQ(9, HostAdapterId);
    ExpectBoxes({{3, "(9,2) " + DefaultIdentity}});
    EXPECT_EQ(1, aspi.SupportInfoCalls());
}

// Only the first adapter with loaders is shown and addressed; later ones are not asked at all. An
// adapter that does not answer its inquiry is skipped without asking its targets.
TEST_F(DiscoveryTest, OnlyTheFirstAdapterWithLoadersIsTaken) {
    aspi.ScriptAdapter(0, SS_COMP, 4);
    aspi.ScriptAdapter(1, SS_COMP, 4);
    aspi.ScriptAdapter(3, SS_COMP, 4);
    AddLoader(2, 0); // adapter 2 does not answer: its loader is never seen
    AddLoader(1, 2, "FIRST ADAPTER");
    AddLoader(1, 5, "FIRST ADAPTER TOO");
    AddLoader(3, 1, "SECOND ADAPTER");
    EXPECT_EQ(0, form->FindLoaderDrives());
    EXPECT_EQ((std::vector<int>{0, 1}), AdaptersAsked());
    EXPECT_EQ(1, HostAdapterId);
    ExpectBoxes({{3, "(1,2) FIRST ADAPTER"}, {6, "(1,5) FIRST ADAPTER TOO"}});
    for (const auto &asked : DeviceTypesAsked())
        EXPECT_TRUE(asked.first == 0 || asked.first == 1) << "adapter " << asked.first;
}

// The identity test, byte by byte, on the 36 bytes from inquiry byte 8 on.
TEST_F(DiscoveryTest, IdentityTestComparesExactlyTheFixedLetters) {
    const Bytes inquiry = LoaderInquiry();
    const Bytes loader(inquiry.begin() + 8, inquiry.end());
    ASSERT_EQ(28u, loader.size());
    Bytes data = loader;
    data.resize(36, 0);
    EXPECT_EQ(0, form->CheckLoaderIdentity(data.data()));

    // Any byte outside vendor 1-7, product 2-8 and product 10-14 may hold anything.
    const std::vector<int> examined = {0,  1,  2,  3,  4,  5,  6,  9,  10, 11,
                                       12, 13, 14, 15, 17, 18, 19, 20, 21};
    for (int i = 0; i < 36; ++i) {
        SCOPED_TRACE("data byte " + std::to_string(i));
        bool isExamined = std::find(examined.begin(), examined.end(), i) != examined.end();
        for (int value : {0x00, 0x20, 0x41, 0x7F, 0xFF}) {
            Bytes changed = data;
            if (changed[i] == value)
                continue;
            changed[i] = static_cast<BYTE>(value);
            EXPECT_EQ(isExamined ? 1 : 0, form->CheckLoaderIdentity(changed.data()))
                << "value " << value;
        }
    }

    const struct {
        const char *name;
        const char *text; // inquiry bytes 8 .. 35
    } refused[] = {
        {"vendor in lower case", "vandrel  Program Mode1  1.00"},
        {"product in lower case", "VANDREL  program mode1  1.00"},
        {"normal mode", "VANDREL ZD-M770B        1.10"},
        {"another maker", "OTHERCO CD-ROM XM-1     2.00"},
        {"letters one place to the left", "VANDREL Program Mode1   1.00"},
    };
    for (const auto &row : refused) {
        Bytes text = Text(row.text);
        text.resize(36, 0);
        EXPECT_EQ(1, form->CheckLoaderIdentity(text.data())) << row.name;
    }
    // Bytes 15, 16 and 24 of the inquiry data are free.
    Bytes free = Text("VANDREL?!Program#Mode1");
    free.resize(36, 0);
    EXPECT_EQ(0, form->CheckLoaderIdentity(free.data()));
}

// Through the whole search: drives whose inquiry data fail the test get no box.
TEST_F(DiscoveryTest, DrivesThatAreNoLoadersAreNotOffered) {
    AddAdapters(1);
    AddDrive(0, 0, {InquiryWith("VANDREL ZD-M770B        1.10"), Identity(DefaultIdentity)});
    AddDrive(0, 1, {InquiryWith("vandrel  Program Mode1  1.00"), Identity(DefaultIdentity)});
    AddDrive(0, 2, {InquiryWith("VANDRELxyProgramzMode1  9.99"), Identity("FREE BYTES")});
    EXPECT_EQ(0, form->FindLoaderDrives());
    ExpectBoxes({{3, "(0,2) FREE BYTES"}});
    EXPECT_EQ(std::vector<int>({0x00, 0x00, 0x00, 0x00, 0x00, 0x12}), OpcodesTo(0, 0));
}

// The caption: "(a,t) " and the identity bytes up to the first zero, at most 28 of them.
TEST_F(DiscoveryTest, CaptionCarriesAtMostTwentyEightIdentityBytes) {
    AddAdapters(1);
    AddLoader(0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01TAIL"); // no zero in the 32 bytes
    Bytes cut = Identity("VANDREL ZD-M770B LOADER 1.10");
    cut[10] = 0;
    AddDrive(0, 1, {LoaderInquiry(), cut});
    Bytes empty = Identity("");
    AddDrive(0, 2, {LoaderInquiry(), empty});
    Bytes high = Identity("\xB1\xB2 LOADER");
    AddDrive(0, 3, {LoaderInquiry(), high});
    EXPECT_EQ(0, form->FindLoaderDrives());
    ExpectBoxes({{1, "(0,0) ABCDEFGHIJKLMNOPQRSTUVWXYZ01"},
                 {2, "(0,1) VANDREL ZD"},
                 {3, "(0,2) "},
                 {4, "(0,3) \xB1\xB2 LOADER"}});
    EXPECT_EQ(6u + 28u, form->TickBox(1).Caption().size());
}

// The previous loader's answer must not make the next target look like a loader when that
// target's INQUIRY moves no data: here the first loader's identity bytes happen to hold the
// loader letters at the places the test examines.
TEST_F(DiscoveryTest, FailingInquiryAfterALoaderDoesNotOfferTheNextTarget) {
    AddAdapters(1);
    const std::string lookalike = "LDR 1.10VANDREL  Program Mode1  "; // 32 bytes
    AddLoader(0, 1, lookalike);
    Drive silent{LoaderInquiry(), Identity(DefaultIdentity)};
    silent.inquiryFails = true;
    AddDrive(0, 2, silent);
    Drive silentCdrom{InquiryWith("OTHERCO CD-ROM XM-1     2.00"), {}};
    silentCdrom.inquiryFails = true;
    AddDrive(0, 3, silentCdrom);
    EXPECT_EQ(0, form->FindLoaderDrives());
    ExpectBoxes({{2, "(0,1) LDR 1.10VANDREL  Program Mod"}});
    EXPECT_EQ(std::vector<int>({0x00, 0x00, 0x00, 0x00, 0x00, 0x12}), OpcodesTo(0, 2));
}

// A loader whose identity cannot be read: discovery stops at once with 1, its box stays visible
// and ticked without caption, later targets are not asked.
TEST_F(DiscoveryTest, FailingIdentityReadStopsDiscovery) {
    AddAdapters(1);
    AddLoader(0, 1);
    Drive mute{LoaderInquiry(), Identity(DefaultIdentity)};
    mute.identityFails = true;
    AddDrive(0, 3, mute);
    AddLoader(0, 5);
    EXPECT_EQ(1, form->FindLoaderDrives());
    ExpectBoxes({{2, "(0,1) " + DefaultIdentity}, {4, ""}});
    EXPECT_EQ(1u, RecordedMessages().size());
    EXPECT_EQ(0, RecordedProcessEnds());
    const std::vector<std::pair<int, int>> asked = {{0, 0}, {0, 1}, {0, 2}, {0, 3}};
    EXPECT_EQ(asked, DeviceTypesAsked());
    EXPECT_TRUE(OpcodesTo(0, 5).empty());
}

TEST_F(DiscoveryTest, NoHostAdapterIsFatalBeforeAnyAdapterIsAsked) {
    for (DWORD info : {0x0100u, 0x0000u, 0xE400u, 0x0200u}) {
        SCOPED_TRACE(info);
        ResetRecordedMessages();
        aspi.SetSupportInfo(info);
        aspi.ScriptAdapter(0, SS_COMP);
        AddLoader(0, 1);
        EXPECT_THROW(form->FindLoaderDrives(), ProcessEnded);
        EXPECT_EQ(std::vector<ShownMessage>{FatalErrorBoxWith("Scsi host adapter not found.")},
                  RecordedMessages());
        EXPECT_TRUE(AdaptersAsked().empty());
        EXPECT_EQ(nullptr, FindWindowA("TJumperForm", nullptr));
    }
}

// Watches for the jumper window from another thread while the user-interface thread runs its
// modal showing: records what it shows and closes it with its close box.
class TJumperWatcher {
  public:
    TJumperWatcher() : uiThread_(GetCurrentThreadId()) {
        thread_ = std::thread([this] { Watch(); });
    }
    ~TJumperWatcher() {
        if (thread_.joinable())
            thread_.join();
    }
    void Join() { thread_.join(); }

    bool seen = false, visible = false;
    std::string caption;
    std::vector<std::string> texts;
    int visibleMainForms = -1;

  private:
    void Watch() {
        HWND window = nullptr;
        for (int i = 0; i < 1000 && !window; ++i) {
            window = FindWindowA("TJumperForm", nullptr);
            if (!window || !IsWindowVisible(window)) {
                window = nullptr;
                Sleep(10);
            }
        }
        if (!window) { // the modal showing would never end: end it as a quit would
            PostThreadMessageA(uiThread_, WM_QUIT, 0, 0);
            return;
        }
        seen = true;
        visible = IsWindowVisible(window) != FALSE;
        caption = WindowText(window);
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            texts.push_back(WindowText(child));
        HWND main = FindWindowA("TMainForm", nullptr);
        visibleMainForms = main && IsWindowVisible(main) ? 1 : 0;
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    static std::string WindowText(HWND window) {
        char text[256] = {};
        GetWindowTextA(window, text, sizeof text);
        return text;
    }

    DWORD uiThread_;
    std::thread thread_;
};

// No loader on any adapter: the jumper window is shown, closing it ends the program; every
// adapter number 0..9 was asked first, and no target 7.
TEST_F(DiscoveryTest, NoLoaderAnywhereShowsTheJumperWindowAndEnds) {
    for (int a = 0; a <= 12; ++a)
        aspi.ScriptAdapter(static_cast<BYTE>(a), SS_COMP, 13);
    AddDrive(0, 2, {InquiryWith("VANDREL ZD-M770B        1.10"), Identity(DefaultIdentity)});
    AddLoader(1, 7);
    AddLoader(10, 0);
    TJumperWatcher watcher;
    EXPECT_THROW(form->FindLoaderDrives(), ProcessEnded);
    watcher.Join();
    EXPECT_TRUE(watcher.seen);
    EXPECT_EQ("ZD-M770B Firmware update", watcher.caption);
    std::vector<std::string> texts = {"",
                                      "OK",
                                      "The firmware loader was not found.",
                                      "To update your firmware you must first power off",
                                      "proper jumper position from the back of the drive.",
                                      "shown in the picture.   The picture shows the",
                                      "the CD-R drive and short the firmware jumper as"};
    std::sort(watcher.texts.begin(), watcher.texts.end());
    EXPECT_EQ(texts, watcher.texts);
    EXPECT_EQ(0, watcher.visibleMainForms);
    EXPECT_EQ(1, RecordedProcessEnds());
    EXPECT_TRUE(RecordedMessages().empty());
    EXPECT_EQ(nullptr, FindWindowA("TJumperForm", nullptr)) << "the jumper window is destroyed";
    EXPECT_EQ(AllAdapters, AdaptersAsked());
    for (const auto &asked : DeviceTypesAsked())
        EXPECT_LE(asked.second, 6);
    EXPECT_EQ(70u, DeviceTypesAsked().size());
    ExpectBoxes({});
}

} // namespace
