#pragma once
// The program as every front end assembles it: its one port, the seven windows made once in
// order, the forms over them (orv_forms.h), and each window with handlers bound to its form.
// At program end the bindings go first, then the forms (saving the settings), then the windows
// in reverse order, the main window last, and the port after them all. A front end that
// includes this links orv_comm_line_port.
//
// TWindows names a front end's parts:
//   Comm                   its TComm with the sink that brings the port's events to the GUI
//                          thread
//   Startup, Update, Status, StopPlc, About, Open, Speed
//                          its seven windows; Startup, Update and Open with Bind(form) and
//                          Unbind(), Startup with TimeOutSeam(), Update with Timer2Seam()
//   Make<T>(Startup&)      makes one of the other six, beside the main window
//   ShowProgramMessage     a message box that belongs to no window (IProgramView)

#include "forms/comm_line_port.h"
#include "forms/orv_forms.h"
#include "settings/reg_store.h"

#include <memory>
#include <string>
#include <utility>

namespace orv {

template <class TWindows>
class TOrvProgram : public IProgramView {
public:
    // The settings in `store`; the program's own are the current user's (MakeUserRegStore).
    explicit TOrvProgram(std::unique_ptr<RegStore> store) {
        SetStoredCommValues(Comm);
        fmStartup = std::make_unique<typename TWindows::Startup>();
        fmUpdate = TWindows::template Make<typename TWindows::Update>(*fmStartup);
        fmStatus = TWindows::template Make<typename TWindows::Status>(*fmStartup);
        fmStopPLC = TWindows::template Make<typename TWindows::StopPlc>(*fmStartup);
        fmAbout = TWindows::template Make<typename TWindows::About>(*fmStartup);
        fmOpen = TWindows::template Make<typename TWindows::Open>(*fmStartup);
        fmSpeed = TWindows::template Make<typename TWindows::Speed>(*fmStartup);

        Forms = std::make_unique<TOrvForms>(
            LinePort, TFormsTimers{fmStartup->TimeOutSeam(), fmUpdate->Timer2Seam()},
            TFormsViews{*this, *fmStartup, *fmUpdate, *fmStatus, *fmStopPLC, *fmAbout, *fmOpen,
                        *fmSpeed},
            std::move(store));
        fmStartup->Bind(*Forms->fmStartup);
        fmUpdate->Bind(*Forms->fmUpdate);
        fmOpen->Bind(*Forms->fmOpen);
    }

    ~TOrvProgram() override {
        fmStartup->Unbind();
        fmUpdate->Unbind();
        fmOpen->Unbind();
    }

    TOrvProgram(const TOrvProgram&) = delete;
    TOrvProgram& operator=(const TOrvProgram&) = delete;

    // IProgramView.
    void ShowProgramMessage(const std::string& text) override {
        TWindows::ShowProgramMessage(text);
    }

    // Declared first: the port outlives the windows and the forms.
    typename TWindows::Comm Comm;
    TCommLinePort LinePort{Comm};

    std::unique_ptr<typename TWindows::Startup> fmStartup;
    std::unique_ptr<typename TWindows::Update> fmUpdate;
    std::unique_ptr<typename TWindows::Status> fmStatus;
    std::unique_ptr<typename TWindows::StopPlc> fmStopPLC;
    std::unique_ptr<typename TWindows::About> fmAbout;
    std::unique_ptr<typename TWindows::Open> fmOpen;
    std::unique_ptr<typename TWindows::Speed> fmSpeed;

    std::unique_ptr<TOrvForms> Forms;
};

} // namespace orv
