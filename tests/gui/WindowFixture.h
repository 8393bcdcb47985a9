#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/TarnflowDlg.h"
#include "phonesim/Phone.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow {

// Answers the window's dialogs from a script and keeps what they were asked.
class ScriptedDialogs : public IDialogs {
  public:
    int MessageBox(QWidget*, const std::string& text, MessageBoxStyle style) override {
        boxes.push_back(text);
        return style == MessageBoxStyle::YesNo || style == MessageBoxStyle::YesNoExclamationModal
                   ? IDNO
                   : IDOK;
    }
    // The next scripted file; "" or an empty script is a cancelled dialog.
    std::optional<std::string> OpenFile(QWidget*, const std::string& filter,
                                        const std::string& initialFile,
                                        const std::string&) override {
        filters.push_back(filter);
        initialFiles.push_back(initialFile);
        if (files.empty()) {
            return std::nullopt;
        }
        std::string file = files.front();
        files.pop_front();
        if (file.empty()) {
            return std::nullopt;
        }
        return file;
    }
    void About(QWidget*) override { ++abouts; }

    std::deque<std::string> files;
    std::vector<std::string> boxes, filters, initialFiles;
    int abouts = 0;
};

// A window on scripted dialogs, with its own settings file and device-map folder in a temporary
// folder, and a processor load that reads 0 so the display refresh never skips.
class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-window-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::filesystem::create_directory(folder + "/map");
        setenv("TARNFLOW_CONFIG", (folder + "/registry.ini").c_str(), 1);
        setenv("TARNFLOW_DEVICE_MAP", (folder + "/map").c_str(), 1);
        setenv("TARNFLOW_HISTORY", (folder + "/history.jsonl").c_str(), 1);
        window = NewWindow(dialogs);
        window->show();
    }
    void TearDown() override {
        if (window) {
            window->close();
            window.reset();
        }
        phones.clear();
        unsetenv("TARNFLOW_CONFIG");
        unsetenv("TARNFLOW_DEVICE_MAP");
        unsetenv("TARNFLOW_HISTORY");
        std::filesystem::remove_all(folder);
    }
    std::unique_ptr<CTarnflowDlg> NewWindow(IDialogs& answers) {
        return std::make_unique<CTarnflowDlg>(answers, folder + "/no-load-source");
    }
    template <typename T>
    T* Get(int id) {
        return qobject_cast<T*>(window->Control(id));
    }
    void Click(int id) { Get<QAbstractButton>(id)->click(); }
    bool Enabled(int id) { return window->Control(id)->isEnabled(); }
    std::string File(const std::string& name, const std::vector<uint8_t>& bytes = {1, 2, 3}) {
        const std::string path = folder + "/" + name;
        sample::WriteFile(path, bytes);
        return path;
    }
    phonesim::Phone& AddPhone(const std::string& link, uint32_t baud = 0) {
        phones.push_back(std::make_unique<phonesim::Phone>());
        phonesim::PhoneOptions options;
        options.baud = baud;
        options.deviceLink = folder + "/map/" + link;
        EXPECT_TRUE(phones.back()->Start(options)) << phones.back()->Error();
        return *phones.back();
    }
    // Runs the window's events until `done` holds; the limit only guards against a hang.
    template <typename Done>
    bool RunUntil(Done done, int limitMs = 30000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < limitMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return done();
    }

    std::string folder;
    ScriptedDialogs dialogs;
    std::unique_ptr<CTarnflowDlg> window;
    std::vector<std::unique_ptr<phonesim::Phone>> phones;
};

}  // namespace tarnflow
