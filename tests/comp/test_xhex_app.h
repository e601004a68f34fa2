#pragma once
// One QApplication for a widget test executable, made before the first test
// and destroyed after the last one (not at static destruction, when Qt's own
// objects are already gone).

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

class HexViewTestApp : public ::testing::Environment {
public:
    static QApplication& Get() {
        if (!app_) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            app_ = std::make_unique<QApplication>(argc_, argv_);
        }
        return *app_;
    }
    void TearDown() override { app_.reset(); }

private:
    static inline int argc_ = 1;
    static inline char name_[] = "hexview-test";
    static inline char* argv_[] = {name_, nullptr};
    static inline std::unique_ptr<QApplication> app_;
};

inline const auto* const kHexViewTestAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new HexViewTestApp);
