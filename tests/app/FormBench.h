#pragma once
// A main window on the bench: built offscreen against an in-process simulated
// part on a virtual clock, with scripted dialogs, driven by clicking its buttons.

#include "AVRinfo.h"
#include "AVRisp.h"
#include "MainForm.h"
#include "ScriptedDialogs.h"
#include "SimPortEntries.h"
#include "SimTarget.h"
#include "XHexEdit.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TFormBench {
    TScriptedDialogs Dialogs;
    avrsim::VirtualClock Clock;
    std::unique_ptr<avrsim::SimTarget> Sim;
    std::unique_ptr<TForm1> Form;
    std::unique_ptr<TInfoForm> Info;
    // Called before every engine step with the step's number, counted from 1
    // since the last ResetSteps.
    std::function<void(int)> OnStep;
    int Steps = 0;

    // device: a part name for the simulated target ("none": empty cable); an
    // empty name leaves the port unopened, as when the port library is missing.
    explicit TFormBench(const std::string& device) {
        if (!device.empty()) {
            avrsim::SimConfig config;
            config.device = device;
            Sim = std::make_unique<avrsim::SimTarget>(config, &Clock);
        }
        Form = std::make_unique<TForm1>(Dialogs, [this](TAVRisp& engine) {
            engine.SleepHook = [this](uint32_t ms) {
                Clock.Advance(std::chrono::milliseconds(ms));
            };
            if (!Sim) return engine.OpenPort(TPortEntries{});
            return engine.OpenPort(SimPortEntries(*Sim));
        });
        Info = std::make_unique<TInfoForm>();
        Form->InfoForm = Info.get();
        // Count the engine's steps for tests that act in the middle of an operation.
        auto update = Form->AVRisp->OnUpdateEvent;
        Form->AVRisp->OnUpdateEvent = [this, update](TAVRisp* sender) {
            ++Steps;
            if (OnStep) OnStep(Steps);
            return update(sender);
        };
        Form->show();
    }

    ~TFormBench() {
        Form.reset(); // the engine shuts its port down while the part still exists
        Info.reset();
    }

    void Click(QPushButton* button) {
        Steps = 0;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Identifies the part through "Init Device", answering every question Yes.
    void InitDevice() {
        Click(Form->InitAVRBtn);
        Dialogs.Clear();
    }

    TAVRisp& Engine() { return *Form->AVRisp; }

    // Byte image of the engine's Flash buffer over the device's size.
    std::vector<uint8_t> FlashImage() {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < Engine().FlashSize() / 2; ++i) {
            bytes.push_back(static_cast<uint8_t>(Engine().FlashBuffer[i] & 0xFF));
            bytes.push_back(static_cast<uint8_t>(Engine().FlashBuffer[i] >> 8));
        }
        return bytes;
    }
    std::vector<uint8_t> EEpromImage() {
        return {Engine().EEpromBuffer.begin(),
                Engine().EEpromBuffer.begin() + Engine().EEpromSize()};
    }
};

// The bytes a hex view holds.
std::vector<uint8_t> ViewBytes(const TXHexEdit& view);
// The bytes of a file; empty when it cannot be read.
std::vector<uint8_t> FileBytes(const QString& path);
