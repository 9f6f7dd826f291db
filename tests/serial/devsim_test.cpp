// The device simulator: message layouts, the scenario format, the bundled show, a scenario played
// through the null-modem pair into the driver's SerialPort, and the line recording its reader
// makes, read back as the simulator reads it.
#include "serial/line_recorder.h"
#include "serial/recording_format.h"
#include "serial/serial_port.h"
#include "tests/serial/rig.h"
#include "tests/support/child.h"
#include "tests/support/process_usage.h"
#include "tools/devsim/line.h"
#include "tools/devsim/recording.h"
#include "tools/devsim/scenario.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>

using namespace devsim;

namespace {

Bytes Parse1(const std::string& sLine, bool bExt = false) {
    std::vector<Step> Steps;
    std::string sError;
    EXPECT_TRUE(ParseScenario(sLine, bExt, Steps, sError)) << sError;
    return Steps.size() == 1 ? Steps[0].Data : Bytes{};
}

std::string ParseError(const std::string& sText) {
    std::vector<Step> Steps;
    std::string sError;
    EXPECT_FALSE(ParseScenario(sText, false, Steps, sError));
    return sError;
}

TEST(DevsimMessages, LayoutsPutEveryFieldAtItsOffset) {
    // Block 1: numbers at even offsets, flag k as bit (k-1)%8 of the byte at 3 + 2*((k-1)/8).
    Bytes b = Parse1("block 1 num=7,0,0,0,0,0,0,0,12 bits=1,3,9");
    ASSERT_EQ(b.size(), 25u);
    EXPECT_EQ(b[0], 0x81);
    EXPECT_EQ(b[1], 0x81);
    EXPECT_EQ(b[2], 7);
    EXPECT_EQ(b[18], 12);
    EXPECT_EQ(b[3], 0x05);
    EXPECT_EQ(b[5], 0x01);
    EXPECT_EQ(Parse1("block 4 num=0,0,0,0,0,0,0,0,0,0,0,0,0,9 bits=104", true).size(), 29u);
    EXPECT_EQ(Parse1("ext on\nblock 2 bits=104")[27], 0x80);

    Bytes g = Parse1("group 2 num=1,2,3,4,5,6,40 bits=4,49,52");
    ASSERT_EQ(g.size(), 23u);
    EXPECT_EQ(g[0], 0x92);
    EXPECT_EQ(g[3], 1);
    EXPECT_EQ(g[13], 6);
    EXPECT_EQ(g[15], 40);
    EXPECT_EQ(g[2], 0x08);
    EXPECT_EQ(g[14], 0x09);

    Bytes o = Parse1("output 3 num=93,2,3,4,5,6,7,8 on=1,4");
    ASSERT_EQ(o.size(), 12u);
    EXPECT_EQ(o[0], 0xB3);
    EXPECT_EQ(o[2], 93);
    EXPECT_EQ(o[3], 0);
    EXPECT_EQ(o[4], 2);
    EXPECT_EQ(o[5], 0x09);
    EXPECT_EQ(o[6], 3);
    EXPECT_EQ(o[7], 4);
    EXPECT_EQ(o[11], 8);

    EXPECT_EQ(Parse1("short num=1,2 bits=7"), (Bytes{0xA1, 0xA1, 1, 2, 0x40}));
    EXPECT_EQ(Parse1("short", true).size(), 21u);

    Bytes t = Parse1("text 5 \"CAM 1\"");
    ASSERT_EQ(t.size(), 21u);
    EXPECT_EQ(t[2], 5);
    EXPECT_EQ(std::string(t.begin() + 3, t.begin() + 8), "CAM 1");
    EXPECT_EQ(t[8], 0);
    EXPECT_EQ(Parse1("marker"), (Bytes{0xD1, 0xD1}));
    EXPECT_EQ(Parse1("tally"), (Bytes{0xD2, 0xD2}));
    EXPECT_EQ(Parse1("raw 81 ff 0"), (Bytes{0x81, 0xFF, 0x00}));
}

TEST(DevsimScenario, RepeatsExpandAndMistakesNameTheirLine) {
    std::vector<Step> Steps;
    std::string sError;
    ASSERT_TRUE(
        ParseScenario("# show\nrepeat 2\n  marker\n  repeat 3\n    tally\n  end\nend\nwait 50\nat 900\n"
                      "say hello world",
                      false, Steps, sError))
        << sError;
    ASSERT_EQ(Steps.size(), 2u * 4 + 3);
    EXPECT_EQ(Steps[0].Data, MarkerMessage());
    EXPECT_EQ(Steps[1].Data, TallyTrigger());
    EXPECT_EQ(Steps[8].Kind, StepKind::Wait);
    EXPECT_EQ(Steps[8].iMs, 50);
    EXPECT_EQ(Steps[9].Kind, StepKind::At);
    EXPECT_EQ(Steps[10].sNote, "hello world");
    // Numbers are decimal or 0x hex; a leading zero does not make them octal.
    EXPECT_EQ(Parse1("output 1 num=010,0x10"), OutputMessage(1, {{10, 16}, {}}, sError));

    EXPECT_EQ(ParseError("marker\nblock 5"), "line 2: block message 1 to 4");
    EXPECT_EQ(ParseError("output 1 num=256"), "line 1: number 256 is not a byte");
    EXPECT_EQ(ParseError("\n\nrepeat 2\ntally"), "line 4: 'repeat' without 'end'");
    EXPECT_EQ(ParseError("end"), "line 1: 'end' without 'repeat'");
    EXPECT_EQ(ParseError("text 1 \"EIGHTEEN CHARS !!!\""), "line 1: a text holds at most 17 characters");
    EXPECT_EQ(ParseError("group 1 bits=53"), "line 1: flag 53 outside 1..52");
    EXPECT_EQ(ParseError("raw 1ff"), "line 1: raw takes hex bytes, not '1ff'");
    EXPECT_EQ(ParseError("jump"), "line 1: unknown step 'jump'");
}

std::string BundledShow() {
    std::ifstream In(DEVSIM_SHOW);
    std::stringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

TEST(DevsimScenario, TheBundledShowHasTalliesTextsAMarkerReentriesAndALinkFailingPause) {
    std::vector<Step> Steps;
    std::string sError;
    ASSERT_TRUE(ParseScenario(BundledShow(), false, Steps, sError)) << sError;
    int iTallies = 0, iTexts = 0, iMarkers = 0;
    bool bReentryRoot = false, bLongPause = false;
    for (const Step& s : Steps) {
        if (s.Kind == StepKind::Wait && s.iMs > 5000)
            bLongPause = true;
        if (s.Kind != StepKind::Send)
            continue;
        iTallies += s.Data[0] == 0xD2;
        iTexts += s.Data[0] == 0xC1;
        iMarkers += s.Data[0] == 0xD1;
        if (s.Data[0] == 0xB1 && (s.Data[2] == 93 || s.Data[2] == 89) && (s.Data[5] & 1))
            bReentryRoot = true;
    }
    EXPECT_GE(iTallies, 8);
    EXPECT_GE(iTexts, 8);
    EXPECT_GE(iMarkers, 1);
    EXPECT_TRUE(bReentryRoot);
    EXPECT_TRUE(bLongPause);
}

TEST(DevsimLine, AScenarioPlayedIntoThePeerArrivesWholeThroughTheDriversPort) {
    std::vector<Step> Steps;
    std::string sError;
    ASSERT_TRUE(ParseScenario(BundledShow(), false, Steps, sError)) << sError;
    rig::DrainPair();
    rig::NotifyWindow Window;
    SerialPort Port;
    Port.SetSpeed(115200);
    ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
    ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
    Window.Pump(300);
    Line Simulator;
    LineSettings Settings;
    Settings.iPort = rig::PeerPort();
    Settings.iSpeed = 115200;
    ASSERT_TRUE(Simulator.Open(Settings, sError)) << sError;
    Bytes Expected;
    for (const Step& s : Steps)
        if (s.Kind == StepKind::Send) {
            ASSERT_TRUE(Simulator.Send(s.Data));
            Expected.insert(Expected.end(), s.Data.begin(), s.Data.end());
        }
    // Paced: 488 bytes at 115200 bit/s take about 42 ms on the line.
    EXPECT_GT(Simulator.Elapsed(), 30.0);
    EXPECT_TRUE(Window.PumpUntil([&] { return Window.Received().size() >= Expected.size(); }, 3000));
    EXPECT_EQ(Window.Received(), Expected);
    Port.Close();
}

// A recording whose numbers no recording reaches: a time past any recording's length (added up,
// it would overflow), or more bytes lost than any line brings. devsim.exe refuses it, naming the
// record, whichever command reads it, and before play opens the port.
TEST(DevsimTool, ADamagedRecordingIsRefusedByInfoPrintAndPlayAlikeAtItsOffset) {
    // Numbers as the driver's writer puts them, then bytes as they stand.
    auto Add = [](std::string& sFile, std::initializer_list<unsigned long long> Numbers,
                  const char* pszBytes) {
        for (unsigned long long iValue : Numbers) {
            unsigned char Number[RECORDING_NUMBER_BYTES];
            sFile.append(reinterpret_cast<const char*>(Number), PutRecordingNumber(Number, iValue));
        }
        sFile += pszBytes;
    };
    std::string sTime = std::string(RECORDING_MAGIC) + "\ndevice 9\nspeed 115200\n\n", sLost = sTime;
    Add(sTime, {5, 2}, "\xD2\xD2");
    const std::size_t iTimeAt = sTime.size();
    Add(sTime, {0x7FFFFFFFFFFFFFFFull, 1}, "\x81");
    Add(sLost, {5, 0, 48}, "");
    const std::size_t iLostAt = sLost.size();
    Add(sLost, {0, 0, 0xFFFFFFFFFFFFFFF0ull}, "");
    for (std::string* pFile : {&sTime, &sLost})
        Add(*pFile, {10, 0, 0}, "");

    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    const std::string sBase = std::string(szTemp) + "dravik_damaged_" + std::to_string(GetCurrentProcessId());
    const std::string sPath = sBase + ".rec", sOutputPath = sBase + ".txt";
    for (const auto& [sFile, iAt] : {std::make_pair(sTime, iTimeAt), std::make_pair(sLost, iLostAt)}) {
        std::ofstream(sPath, std::ios::binary) << sFile;
        const std::string sRefusal = "devsim: " + sPath + ": damaged record at byte " + std::to_string(iAt);
        const std::string sPlay = "--port " + std::to_string(rig::PeerPort()) + " play";
        for (const std::string& sCommand : {std::string("info"), std::string("print"), sPlay}) {
            ChildProcess Devsim;
            ASSERT_TRUE(Devsim.Start(DEVSIM_EXE, sCommand + " \"" + sPath + "\"", sOutputPath));
            EXPECT_EQ(Devsim.Wait(20000), 1u) << sCommand;
            Devsim.Kill();
            std::stringstream Output;
            Output << std::ifstream(sOutputPath, std::ios::binary).rdbuf();
            const std::string sOutput = Output.str();
            EXPECT_EQ(sOutput.substr(0, sOutput.find_last_not_of("\r\n") + 1), sRefusal) << sCommand;
        }
    }
    DeleteFileA(sPath.c_str());
    DeleteFileA(sOutputPath.c_str());
}

// The reader's port, a simulator on the pair's other end, and the recording of what the reader
// delivers, read back as devsim reads it.
class DevsimRecording : public ::testing::Test {
  protected:
    void SetUp() override {
        rig::DrainPair();
        char szTemp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, szTemp);
        sPath = std::string(szTemp) + "dravik_recording_" + std::to_string(GetCurrentProcessId()) + ".rec";
        DeleteFileA(sPath.c_str());
        Port.SetSpeed(115200);
        ASSERT_EQ(Port.Open(rig::DriverPort()), 1);
        ASSERT_EQ(Port.SetNotifyWindow(Window.Handle(), 16), 1);
        LineSettings Settings;
        Settings.iPort = rig::PeerPort();
        Settings.iSpeed = 115200;
        std::string sError;
        ASSERT_TRUE(Simulator.Open(Settings, sError)) << sError;
    }
    void TearDown() override {
        LineRecorderStop();
        LineRecorderFinished(10000, nullptr);
        Port.Close();
        DeleteFileA(sPath.c_str());
    }

    DWORD Start(HANDLE hFile, LONGLONG llLimit = RECORDING_LIMIT_BYTES, int iRing = RECORDING_RING_BYTES) {
        return LineRecorderStart(hFile, "device 9\nspeed 115200\n", rig::DriverPort() - 1, llLimit, iRing);
    }
    DWORD StartFile(LONGLONG llLimit = RECORDING_LIMIT_BYTES, int iRing = RECORDING_RING_BYTES) {
        return Start(CreateFileA(sPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr),
                     llLimit, iRing);
    }
    // Sent whole through the pair, and the reader's window has it all: the live road is intact.
    void SendAndReceive(const Bytes& Data) {
        ASSERT_TRUE(Simulator.Send(Data));
        Sent.insert(Sent.end(), Data.begin(), Data.end());
        EXPECT_TRUE(Window.PumpUntil([&] { return Window.Received().size() >= Sent.size(); }, 10000));
    }
    RecordingResult StopAndFinish() {
        LineRecorderStop();
        RecordingResult Result{};
        EXPECT_TRUE(LineRecorderFinished(10000, &Result));
        return Result;
    }
    Recording Read() {
        std::ifstream In(sPath, std::ios::binary);
        std::stringstream Text;
        Text << In.rdbuf();
        Recording R;
        std::string sError;
        EXPECT_TRUE(ParseRecording(Text.str(), R, sError)) << sError;
        return R;
    }
    static Bytes LineBytes(const Recording& R) {
        Bytes All;
        for (const RecordedChunk& c : R.Chunks)
            All.insert(All.end(), c.Data.begin(), c.Data.end());
        return All;
    }
    static double NowMs() {
        LARGE_INTEGER Now, Frequency;
        QueryPerformanceCounter(&Now);
        QueryPerformanceFrequency(&Frequency);
        return static_cast<double>(Now.QuadPart) * 1000.0 / static_cast<double>(Frequency.QuadPart);
    }

    std::string sPath;
    rig::NotifyWindow Window;
    SerialPort Port;
    Line Simulator;
    Bytes Sent;
};

TEST_F(DevsimRecording, EveryDeliveredByteIsRecordedInOrderNoEarlierThanItWasSent) {
    const double dBefore = NowMs();
    ASSERT_EQ(StartFile(), 0u);
    const double dStarted = NowMs();
    // One at a time.
    EXPECT_EQ(Start(CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
              static_cast<DWORD>(ERROR_BUSY));
    SendAndReceive(rig::Pattern(3000, 7));
    Window.Pump(300);
    const double dSecondSent = NowMs();
    SendAndReceive(rig::Pattern(500, 8));
    const RecordingResult Result = StopAndFinish();
    const double dFinished = NowMs();

    EXPECT_EQ(Result.iEnd, RECORDING_STOPPED);
    EXPECT_EQ(Result.llLostBytes, 0);
    EXPECT_EQ(Result.llLineBytes, static_cast<LONGLONG>(Sent.size()));
    const Recording R = Read();
    EXPECT_TRUE(R.bComplete);
    EXPECT_EQ(R.Value("device"), "9");
    EXPECT_EQ(LineBytes(R), Sent);
    EXPECT_EQ(Result.llFileBytes, static_cast<LONGLONG>(std::ifstream(sPath, std::ios::binary | std::ios::ate).tellg()));
    // A byte is received after it was sent and before the recording ended: its time lies between.
    long long iOffset = 0, iPrevious = 0;
    for (const RecordedChunk& c : R.Chunks) {
        EXPECT_GE(c.iMs, iPrevious);
        iPrevious = c.iMs;
        if (iOffset + static_cast<long long>(c.Data.size()) > 3000 && iOffset <= 3000) {
            EXPECT_GE(static_cast<double>(c.iMs), dSecondSent - dStarted - 1) << "the second burst's first byte";
        }
        iOffset += static_cast<long long>(c.Data.size());
    }
    EXPECT_LE(static_cast<double>(R.iEndMs), dFinished - dBefore + 1);
    EXPECT_GE(R.iEndMs, iPrevious);
}

TEST_F(DevsimRecording, ALimitEndsTheFileOnWholeRecordsAndAFailedWriteEndsItWhileTheLineGoesOn) {
    constexpr LONGLONG LIMIT = 2000;
    ASSERT_EQ(StartFile(LIMIT), 0u);
    SendAndReceive(rig::Pattern(4000, 3));
    RecordingResult Result{};
    ASSERT_TRUE(LineRecorderFinished(10000, &Result)) << "the limit did not end it";
    EXPECT_FALSE(LineRecorderRunning());
    EXPECT_EQ(Result.iEnd, RECORDING_AT_LIMIT);
    EXPECT_LE(Result.llFileBytes, LIMIT);
    EXPECT_GT(Result.llFileBytes, LIMIT - 300); // no more than one record short of it
    const Recording R = Read();
    EXPECT_TRUE(R.bComplete);
    const Bytes Recorded = LineBytes(R);
    EXPECT_EQ(Recorded, Bytes(Sent.begin(), Sent.begin() + static_cast<long>(Recorded.size())));

    // A full disk: the header's write fails.
    HANDLE hFull = CreateFileA("Z:\\dev\\full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hFull, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Start(hFull), 0u);
    ASSERT_TRUE(LineRecorderFinished(10000, &Result));
    EXPECT_EQ(Result.iEnd, RECORDING_FAILED);
    EXPECT_EQ(Result.dwError, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_FALSE(LineRecorderRunning());
    SendAndReceive(rig::Pattern(500, 4));
    EXPECT_EQ(Window.Received(), Sent);
}

TEST_F(DevsimRecording, AStalledWriterCostsTheRecordingNotTheLineAndTheLossIsNotedWhereItHappened) {
    const std::set<DWORD> Before = ThreadIdsOf(GetCurrentProcessId());
    ASSERT_EQ(StartFile(RECORDING_LIMIT_BYTES, RECORDING_RING_MIN_BYTES), 0u);
    // The disk stalls: the writer is held while the line brings four rings' worth.
    {
        SuspendedThread Writer(NewThread(Before, ThreadIdsOf(GetCurrentProcessId())));
        ASSERT_TRUE(Writer.Held());
        SendAndReceive(rig::Pattern(4 * RECORDING_RING_MIN_BYTES, 5));
    }
    SendAndReceive(rig::Pattern(300, 6));
    const RecordingResult Result = StopAndFinish();

    EXPECT_EQ(Window.Received(), Sent);
    EXPECT_GT(Result.llLostBytes, 0);
    EXPECT_EQ(Result.llLineBytes + Result.llLostBytes, static_cast<LONGLONG>(Sent.size()));
    // What was kept is the line with the lost stretches cut out where the notes say.
    const Recording R = Read();
    EXPECT_EQ(R.iLostBytes, Result.llLostBytes);
    std::size_t iAt = 0;
    for (const RecordedChunk& c : R.Chunks) {
        if (c.iLost > 0) {
            iAt += static_cast<std::size_t>(c.iLost);
            continue;
        }
        ASSERT_LE(iAt + c.Data.size(), Sent.size());
        EXPECT_EQ(c.Data, Bytes(Sent.begin() + static_cast<long>(iAt), Sent.begin() + static_cast<long>(iAt + c.Data.size())))
            << "chunk at " << c.iMs << " ms";
        iAt += c.Data.size();
    }
    EXPECT_EQ(iAt, Sent.size()) << "every byte is recorded in its place or counted where it was lost";
}

} // namespace
