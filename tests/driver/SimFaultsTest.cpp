// The simulated card's faults as the library itself shows them, through the
// program's binding on the built library: what the window tests cannot see
// (bytes past the name buffer, blocks behind a faked count, a running
// acquisition that outlives a refused start, values that are not numbers).

#include "driver/LibraryDriver.h"
#include "tests/support/CardFault.h"
#include "tests/support/WaitForBlocks.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kChannels = 17;
constexpr int kCounterChannel = 4;

class SimFaultsTest : public testing::Test {
protected:
    void TearDown() override { m_card.StopIntr(); }

    bool start(int pointsPerBuf, int sampFreq) {
        m_card.StopIntr();
        return m_card.Initial(0, 0, 0, 0) != 0 &&
               m_card.StartIntr(50, pointsPerBuf, 0, kChannels, sampFreq, 0, 1) != 0;
    }
    bool waitForBlocks(int count, std::chrono::milliseconds timeout = 3s) {
        return ::waitForBlocks(m_card, count, timeout);
    }
    // The name buffer with guard bytes after its 201 bytes.
    std::array<std::uint8_t, kCardNameBytes + 16> configName() {
        std::array<std::uint8_t, kCardNameBytes + 16> name;
        name.fill('#');
        std::int32_t v = 0;
        float zero = 0.0F;
        float span = 0.0F;
        m_card.ConfigInfo(name.data(), &v, &v, &v, &v, &zero, &span, &v);
        return name;
    }

    LibraryDriver m_card{LibraryDriver::besideProgram(QStringLiteral(SIM_LIBRARY_DIR))};
};

TEST_F(SimFaultsTest, NameFaultsFillTheWhole201BytesAndNothingPast) {
    const struct {
        const char* variable;
        QByteArray value;
        std::string name; // the bytes before the first zero, or all 201
    } rows[] = {
#if !defined(_WIN32) // Windows cannot hold a variable with an empty value.
        {"TOVIRA_SIM_NAME", "", ""},
#endif
        {"TOVIRA_SIM_NAME", QByteArray(300, 'Q'), std::string(201, 'Q')},
        {"TOVIRA_SIM_NAME_FILL", "3", "ABC"},
        {"TOVIRA_SIM_NAME_FILL", "-4", ""},
        {"TOVIRA_SIM_NAME_FILL", "999", std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ").substr(0, 19)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.variable + std::string("=") + row.value.left(12).toStdString());
        CardFault fault(row.variable, row.value);
        const auto name = configName();
        const auto end = std::find(name.begin(), name.begin() + kCardNameBytes, 0);
        const std::string shown(name.begin(), end);
        if (row.name.size() == 19) { // the 201-byte cycle: check its ends
            EXPECT_EQ(shown.size(), 201U);
            EXPECT_EQ(shown.substr(0, 19), row.name);
            EXPECT_EQ(shown.substr(182), row.name); // 182 = 7 * 26: the cycle restarts
        } else {
            EXPECT_EQ(shown, row.name);
        }
        // A shorter name is followed by zeros, never by the card's own name.
        EXPECT_TRUE(
            std::all_of(end, name.begin() + kCardNameBytes, [](std::uint8_t c) { return c == 0; }));
        EXPECT_TRUE(std::all_of(name.begin() + kCardNameBytes, name.end(), [](std::uint8_t c) {
            return c == '#';
        })) << "wrote past the name buffer";
    }
}

TEST_F(SimFaultsTest, ValuesThatAreNotNumbersAreIgnored) {
    for (const char* value : {"", "12ms", "abc", "1.5", "99999999999"}) {
        SCOPED_TRACE(value);
        CardFault initial("TOVIRA_SIM_FAIL_INITIAL", value);
        CardFault startFault("TOVIRA_SIM_FAIL_START", value);
        CardFault query("TOVIRA_SIM_QUERY_COUNT", value);
        CardFault zero("TOVIRA_SIM_ZERO", "1O0"); // a letter O
        EXPECT_TRUE(start(500, 1'000'000));
        EXPECT_TRUE(waitForBlocks(1));
        std::int32_t v = 0;
        float level = 0.0F;
        float span = 0.0F;
        std::array<std::uint8_t, kCardNameBytes> name{};
        m_card.ConfigInfo(name.data(), &v, &v, &v, &v, &level, &span, &v);
        EXPECT_EQ(level, 32768.0F);
    }
}

TEST_F(SimFaultsTest, ARefusedStartLeavesTheRunningAcquisitionRunning) {
    ASSERT_TRUE(start(500, 20000));
    ASSERT_TRUE(waitForBlocks(1));
    {
        CardFault fault("TOVIRA_SIM_FAIL_START", "9");
        EXPECT_EQ(m_card.StartIntr(50, 500, 0, kChannels, 20000, 0, 1), 0);
        EXPECT_EQ(m_card.GetLastADError(), 9);
    }
    const int before = m_card.QueryBuf();
    EXPECT_TRUE(waitForBlocks(before + 2)) << "the acquisition stopped";
}

TEST_F(SimFaultsTest, AFakedCountHandsOutOnlyRealBlocks) {
    ASSERT_TRUE(start(100, 1'000'000));
    ASSERT_TRUE(waitForBlocks(2));
    m_card.StopIntr();
    const int real = m_card.QueryBuf();
    CardFault fault("TOVIRA_SIM_QUERY_COUNT", "-7");
    EXPECT_EQ(m_card.QueryBuf(), -7);
    std::vector<std::int16_t> buffer(kChannels * 100 + 2, 0x5A5A);
    for (int i = 0; i < real; ++i) {
        ASSERT_EQ(m_card.ADResult(buffer.data()), 1);
        EXPECT_EQ(buffer[1 + kCounterChannel], static_cast<std::int16_t>(i * 100));
    }
    std::fill(buffer.begin(), buffer.end(), 0x5A5A);
    EXPECT_EQ(m_card.ADResult(buffer.data()), 0);
    EXPECT_TRUE(
        std::all_of(buffer.begin(), buffer.end(), [](std::int16_t e) { return e == 0x5A5A; }));
}

TEST_F(SimFaultsTest, NullReferencesAreLeftAloneAndTakeNothing) {
    // A caller that passes no buffer gets nothing written and loses no block.
    m_card.ConfigInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(start(100, 1'000'000));
    ASSERT_TRUE(waitForBlocks(1));
    m_card.StopIntr();
    const int waiting = m_card.QueryBuf();
    EXPECT_EQ(m_card.ADResult(nullptr), 0);
    EXPECT_EQ(m_card.QueryBuf(), waiting);
}

TEST_F(SimFaultsTest, AStalledCardDeliversTheFirstBlockThenNothingThenTheBacklog) {
    CardFault stall("TOVIRA_SIM_STALL_MS", "300");
    // 100-scan blocks at 10000 scans/s: one every 10 ms.
    const auto started = Clock::now();
    ASSERT_TRUE(start(100, 10000));
    ASSERT_TRUE(waitForBlocks(1));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(m_card.QueryBuf(), 1) << "blocks arrived during the stall";
    ASSERT_TRUE(waitForBlocks(20));
    // They came at once when the stall ended, not one by one since the start.
    EXPECT_GE(Clock::now() - started, 300ms);
    EXPECT_LT(Clock::now() - started, 2s);

    // A stall that is not a positive number of milliseconds is no stall.
    for (const char* value : {"0", "-50", "soon"}) {
        CardFault none("TOVIRA_SIM_STALL_MS", value);
        ASSERT_TRUE(start(100, 10000));
        EXPECT_TRUE(waitForBlocks(5, 200ms)) << value;
    }
}

} // namespace
