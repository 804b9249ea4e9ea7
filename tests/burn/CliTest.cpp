// The console front-end's writer operations, run as a program over virtual writers.
#include "BurnSupport.h"
#include "NeroBinding.h"
#include "Registry.h"
#include "TestProgram.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace burntest;

namespace {

using CliRun = qxtest::ProgramRun;

CliRun Cli(const QStringList& args) {
    return qxtest::RunProgram(QX_BIN_DIR "/qxmoviedisc-cli", args, 60000);
}

} // namespace

TEST(CliWriters, ListsDescribesAndErasesVirtualWriters) {
    EnsureApp();
    const std::string dir = FreshFolder("cli");
    VirtualWriter r;
    r.image = dir + "r.iso";
    VirtualWriter rw;
    rw.name = "Virtual DVD+RW";
    rw.media = "9";
    rw.state = "written";
    rw.image = dir + "rw.iso";
    qxtest::WriteFile(rw.image, DiscImageBytes(0));
    VirtualWriter slow; // below 1x DVD: left out, and the list says why
    slow.image = dir + "slow.iso";
    slow.speeds = "700";
    WriteWriters({r, rw, slow});

    // The list alone on standard output; why a section is left out on standard error.
    const CliRun list = Cli({"--list-writers"});
    EXPECT_EQ(list.status, 0) << list.out;
    EXPECT_EQ(list.out, "0: V1 Virtual DVD-R\n1: V2 Virtual DVD+RW\n");
    EXPECT_NE(list.err.find("] is not a writer: speeds must be KB/s numbers of at least 1385"), std::string::npos)
        << list.err;

    const CliRun info = Cli({"--engine", "0", "--writer-info", "1"});
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* line :
         {"typename=V2 Virtual DVD+RW Virtual 1.0\n", "type=DVD+RW\n", "WriteSpeed=16.0x\n", "totleSpace=4482.6 M\n",
          "m_bD9=0\n", "DiscIsInserted=1\n", "CanSupport=1\n", "CanErase=1\n", "isEmpty=0\n"}) {
        EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
    }
    const CliRun missing = Cli({"--writer-info", "5"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No DVD Writer detected! Cannot burn DVD Disk!"), std::string::npos) << missing.err;

    const CliRun erase = Cli({"--erase", "1"});
    EXPECT_EQ(erase.status, 0) << erase.out;
    EXPECT_NE(erase.out.find("outcome: done"), std::string::npos) << erase.out;
    EXPECT_EQ(ReadFile(rw.image), "");
    const CliRun again = Cli({"--erase", "1"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("outcome: refused"), std::string::npos) << again.out;
    EXPECT_EQ(Cli({"--engine", "1", "--list-writers"}).status, 1); // no second engine here
}

TEST(CliWriters, SecondEngineIsUsedWhenItsLibraryIsRegisteredAndRefusedOtherwise) {
    EnsureApp();
    const std::string dir = FreshFolder("cli-nero");
    VirtualWriter r;
    r.image = dir + "r.iso";
    WriteWriters({r});
    const std::string registry = qx::RegistryFile();
    std::remove(registry.c_str());
    const CliRun refused = Cli({"--engine", "1", "--list-writers"});
    EXPECT_EQ(refused.status, 1) << refused.out;
    // Without a registry entry the reason says so.
    EXPECT_NE(refused.err.find("The \"Nero\" burn engine is not available. "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("registry"), std::string::npos) << refused.err;

    ASSERT_TRUE(qx::RegSetString(kNeroSharedKey, kNeroSharedValue, QX_NERO_LIBRARY_DIR).ok());
    const CliRun list = Cli({"--list-writers"}); // the second engine is the default once offered
    std::remove(registry.c_str());
    EXPECT_EQ(list.status, 0) << list.out;
    EXPECT_EQ(list.out, "0: D: Virtual DVD-R\n");
}
