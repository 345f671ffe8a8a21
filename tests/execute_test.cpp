// Execute on real child processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include <string>
#include <vector>

#include "tarvo_library.h"

namespace {

constexpr char kSentinel = '#';

struct Outcome {
    int result;
    std::string text;  // the buffer up to its first zero byte
};

// Runs Execute with a buffer of capacity bytes followed by sentinels, and checks
// that nothing past capacity was touched.
Outcome RunExecute(const std::string& commandLine, DWORD capacity = 65536)
{
    std::vector<char> buffer(capacity + 16, kSentinel);
    Outcome outcome;
    outcome.result = TarvoLibrary::Get().execute(commandLine.c_str(), buffer.data(), capacity);
    for (size_t i = capacity; i < buffer.size(); ++i)
        EXPECT_EQ(kSentinel, buffer[i]) << "byte " << i << " written past capacity " << capacity;
    const auto end = std::find(buffer.begin(), buffer.begin() + capacity, '\0');
    EXPECT_TRUE(capacity == 0 || end != buffer.begin() + capacity) << "text not terminated within capacity";
    outcome.text.assign(buffer.begin(), end);
    return outcome;
}

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('!' + i % 251 % 94);
    return bytes;
}

TEST(Execute, ReturnsExitCodeAndExactOutput)
{
    const Outcome outcome = RunExecute(Child("echo word 3"));
    EXPECT_EQ(3, outcome.result);
    EXPECT_EQ("word\r\n", outcome.text);
}

TEST(Execute, MergesStderrWithStdoutInOrder)
{
    const Outcome outcome = RunExecute(Child("interleave"));
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ("out 0\nerr 0\nout 1\nerr 1\nout 2\nerr 2\n", outcome.text);
}

TEST(Execute, ExitCodeAllOnesLooksLikeFailureButKeepsOutput)
{
    const Outcome outcome = RunExecute(Child("echo done 0xFFFFFFFF"));
    EXPECT_EQ(-1, outcome.result);
    EXPECT_EQ("done\r\n", outcome.text);
}

TEST(Execute, CapturesLargeOutputWhole)
{
    const size_t size = 300000;
    const Outcome outcome = RunExecute(Child("pattern " + std::to_string(size)), size + 1);
    EXPECT_EQ(0, outcome.result);
    ASSERT_EQ(size, outcome.text.size());
    EXPECT_TRUE(outcome.text == Pattern(size)) << "captured bytes differ from what the child wrote";
}

// The child writes 8 MiB, far more than a pipe holds: it finishes only if its
// writes fail once the reader has stopped reading, and then exits with 7.
TEST(Execute, CutsOutputAtCapacityWithoutHoldingChildUp)
{
    const Outcome outcome = RunExecute(Child("flood 8388608"), 1000);
    EXPECT_EQ(7, outcome.result);
    EXPECT_EQ(Pattern(999), outcome.text);
}

TEST(Execute, CapacityOneGetsOnlyTheTerminator)
{
    const Outcome outcome = RunExecute(Child("flood 8388608"), 1);
    EXPECT_EQ(7, outcome.result);
    EXPECT_EQ("", outcome.text);
}

TEST(Execute, CapacityZeroWritesNothing)
{
    char buffer[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    EXPECT_EQ(7, TarvoLibrary::Get().execute(Child("flood 8388608").c_str(), buffer, 0));
    EXPECT_EQ(std::string(4, kSentinel), std::string(buffer, 4));
}

TEST(Execute, NullBufferDiscardsOutput)
{
    EXPECT_EQ(7, TarvoLibrary::Get().execute(Child("flood 8388608").c_str(), nullptr, 4096));
    EXPECT_EQ(-1, TarvoLibrary::Get().execute("no-such-program-tarvo.exe", nullptr, 4096));
}

TEST(Execute, ChildSeesEndOfStdinAtOnce)
{
    const Outcome outcome = RunExecute(Child("stdin"));
    EXPECT_EQ(0, outcome.result) << "the child read that many bytes from stdin";
}

TEST(Execute, ReturnsWhenChildExitsThoughGrandchildHoldsThePipe)
{
    const DWORD start = GetTickCount();
    const Outcome outcome = RunExecute(Child("grandchild 5"));
    const DWORD elapsed = GetTickCount() - start;

    unsigned long pid = 0;
    ASSERT_EQ(1, sscanf(outcome.text.c_str(), "grandchild %lu\n", &pid)) << "output: " << outcome.text;
    HANDLE grandchild = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(nullptr, grandchild);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(grandchild, 0)) << "the grandchild should still be running";
    TerminateProcess(grandchild, 0);
    CloseHandle(grandchild);

    EXPECT_EQ(5, outcome.result);
    const std::string first = "grandchild " + std::to_string(pid) + "\nstamp ";
    EXPECT_EQ(first, outcome.text.substr(0, first.size())) << "the child's output, whole";
    EXPECT_EQ('\n', outcome.text.back()) << "the child's last line, whole: " << outcome.text;
    EXPECT_LT(elapsed, 20000u) << "Execute waited for the grandchild";
}

TEST(Execute, CommandNotFoundGivesSystemText)
{
    const Outcome outcome = RunExecute("no-such-program-tarvo.exe");
    EXPECT_EQ(-1, outcome.result);
    EXPECT_EQ(SystemText(ERROR_FILE_NOT_FOUND), outcome.text);
    EXPECT_FALSE(outcome.text.empty());
}

TEST(Execute, NullCommandLineIsRefused)
{
    std::vector<char> buffer(1024, kSentinel);
    EXPECT_EQ(-1, TarvoLibrary::Get().execute(nullptr, buffer.data(), 1024));
    EXPECT_EQ(SystemText(ERROR_INVALID_PARAMETER), buffer.data());
}

TEST(Execute, SmallCapacityCutsTheExplanation)
{
    const std::string full = SystemText(ERROR_FILE_NOT_FOUND);
    ASSERT_GT(full.size(), 4u);
    for (DWORD capacity : {1u, 2u, 5u}) {
        const Outcome outcome = RunExecute("no-such-program-tarvo.exe", capacity);
        EXPECT_EQ(-1, outcome.result);
        EXPECT_EQ(full.substr(0, capacity - 1), outcome.text) << "capacity " << capacity;
    }
}

}  // namespace
