#pragma once
// The program's one serial port as the forms use it: the engines' seam, the connect dialog's
// choices, the machine's port list and the port's events. The front ends give it over their
// TComm (TCommLinePort, comm_line_port.h); the forms' tests give a fake.

#include "protocol/link.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orv {

class ICommPort : public ILinePort {
public:
    // CommName: the port the next Open opens.
    virtual void SetCommName(const std::string& name) = 0;
    // RtsControl = RtsEnable.
    virtual void SetRtsEnabled() = 0;
    // The machine's serial ports as the connect dialog lists them: "name: (description)", or
    // the name alone, in the order the system gives them. May throw.
    virtual std::vector<std::string> ListPorts() = 0;
    // Replies taken whole, from the next opening on; off, only the read interval ends a block.
    virtual void SetRepliesWhole(bool on) = 0;

    // The port's events, raised on the GUI thread between handlers (also inside a nested modal
    // loop), never from within a call into the port. Installed by the update form. After
    // OnRequestHangup, Write refuses until the port is opened again.
    std::function<void(const uint8_t* buffer, uint16_t length)> OnReceiveData;
    std::function<void()> OnSendDataEmpty;
    std::function<void()> OnRequestHangup;
};

} // namespace orv
