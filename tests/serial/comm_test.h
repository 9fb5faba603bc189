#pragma once
// TComm and its threads on real pseudo-terminals, notifications pumped through a queue sink:
// what every platform shares (comm_test.cpp) and each one's own (comm_test_posix.cpp,
// comm_test_win32.cpp).

#include "driver_fake.h"
#include "pty.h"
#include "serial/comm.h"
#include "serial/queue_sink.h"

#include <gtest/gtest.h>

namespace orv::test {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class CommTest : public ::testing::Test {
protected:
    void SetUp() override {
        Comm.CommName = Pty.SlavePath;
        // As the update window stores them: no software flow control.
        Comm.SetOutx_XonXoffFlow(false);
        Comm.SetInx_XonXoffFlow(false);
        Comm.OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
            EXPECT_EQ(sender, &Comm);
            EXPECT_EQ(buffer[length], 0) << "a zero byte follows the data";
            Blocks.emplace_back(buffer, buffer + length);
        };
        Comm.OnSendDataEmpty = [this](TComm*) { ++Empties; };
        Comm.OnRequestHangup = [this](TComm*) { ++Hangups; };
        Comm.OnReceiveError = [this](TComm*, uint32_t mask) { Errors.push_back(mask); };
        Comm.OnModemStateChange = [this](TComm*, uint32_t word) { Modem.push_back(word); };
        Comm.OnReplyTail = [this](TComm*, const uint8_t* buffer, uint16_t length) {
            Tails.emplace_back(buffer, buffer + length);
        };
        Comm.OnLineEcho = [this](TComm*) { ++Echoes; };
    }

    void TearDown() override { driver::Release(); }

    Bytes Received() const {
        Bytes all;
        for (const Bytes& b : Blocks)
            all.insert(all.end(), b.begin(), b.end());
        return all;
    }
    bool WaitReceived(size_t n, std::chrono::milliseconds timeout = 3000ms) {
        return Sink.PumpUntil([&] { return Received().size() >= n; }, timeout);
    }
    void StartAndSettle() {
        Comm.StartComm();
        ASSERT_TRUE(Sink.PumpUntil([&] { return Empties == 1; }, 2000ms));
    }
    // The other end takes the request and lets its time on the wire pass (11 bits a byte).
    Bytes TakeRequest(size_t n) {
        Bytes got = Pty.Read(n, 2000ms);
        Sleep(static_cast<int>(n * 11 * 1000 / Comm.BaudRate()) + 5);
        return got;
    }
    // Until the reader has bytes in hand that it has not yet delivered, where the driver tells
    // (a received-byte report ahead of the block); elsewhere a pause for them to arrive.
    void AwaitBytesInHand() {
        (void)Sink.PumpUntil([&] { return !Modem.empty(); }, 500ms);
    }

    TQueueCommSink Sink; // outlives the component
    TPty Pty;
    TComm Comm{&Sink};
    std::vector<Bytes> Blocks;
    std::vector<uint32_t> Errors;
    std::vector<uint32_t> Modem;
    std::vector<Bytes> Tails;
    int Empties = 0;
    int Hangups = 0;
    int Echoes = 0;
};

inline std::string MessageOf(TComm& comm, std::string* detail = nullptr) {
    try {
        comm.StartComm();
    } catch (const ECommsError& e) {
        if (detail)
            *detail = e.Detail();
        return e.what();
    }
    return "(opened)";
}

} // namespace orv::test
