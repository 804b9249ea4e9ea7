// The fixture of the window tests: isolated folders, scripted prompts, the window made from parts
// that a test may change before Create().
#pragma once

#include "AppTestSupport.h"
#include "Folders.h"
#include "MainDlg.h"
#include "XListCtrl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApp();
        companion = FreshFolder("companion");
        MakeCompanionFolder(companion);
        work = FreshFolder("work");
        movies = FreshFolder("movies");
        settingsFile = FreshFolder("cfg") + "settings.ini";
        qx::SetPrompts(&prompts);
        fake = MakeFakeParts(companion);
        fake.parts.settingsFile = settingsFile;
    }
    void TearDown() override {
        dlg.reset();
        qx::SetPrompts(nullptr);
    }
    // The real encoder program and authoring engine instead of their stand-ins (which need no
    // companion folder); the other parts stay stand-ins until a test drops them too.
    void UseRealEncoderAndAuthoring() {
        fake.parts.encoder.reset();
        fake.parts.authoring.reset();
        fake.parts.companionFolder.clear();
        fake.encoder = nullptr;
        fake.authoring = nullptr;
    }
    // The whole program's parts but the burn cores and the power service (no writer, no shutdown):
    // the real encoder, authoring engine, log program and settings file, which starts empty.
    void UseRealPartsButBurningAndPower() {
        UseRealEncoderAndAuthoring();
        fake.parts.log.reset();
        fake.parts.settingsFile.clear();
        fake.log = nullptr;
        settingsFile = qx::ConfigFolder() + "settings.ini";
        std::remove(settingsFile.c_str());
    }
    void Create(bool withWorkFolder = true) {
        dlg = std::make_unique<CQuilvoVidrevoDlg>(std::move(fake.parts));
        ASSERT_TRUE(dlg->OnInitDialog());
        dlg->show();
        if (withWorkFolder) {
            Find<QLineEdit>("editTempFolder")->setText(QString::fromStdString(work));
        }
    }
    template <class T> T* Find(const char* name) {
        T* w = dlg->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(name), Qt::LeftButton); }
    // Adds movies through the file dialog; each name gets a tiny file in the movie folder.
    void AddMovies(const std::vector<std::string>& names, const std::string& folder = {}) {
        std::vector<std::string> paths;
        for (const std::string& name : names) {
            paths.push_back((folder.empty() ? movies : folder) + name);
            WriteFile(paths.back(), 100);
        }
        prompts.QueueFiles(paths);
        Click("btnAddFiles");
        ASSERT_TRUE(dlg->WaitForAddFiles(10000));
    }
    bool RunJob() {
        QSignalSpy spy(dlg.get(), &CQuilvoVidrevoDlg::jobFinished);
        Click("btnStart");
        return spy.count() > 0 || spy.wait(180000);
    }
    // Runs `inside` on the next modal dialog that appears, then closes it.
    void OnNextModal(std::function<void(QWidget*)> inside) {
        QTimer::singleShot(20, qApp, [this, inside] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                return OnNextModal(inside);
            }
            inside(modal);
            modal->close();
        });
    }
    CXListCtrl* List() { return Find<CXListCtrl>("listSources"); }
    std::string Status(int row) { return List()->GetItemText(row, 2); }

    TestPrompts prompts;
    FakeParts fake;
    std::unique_ptr<CQuilvoVidrevoDlg> dlg;
    std::string companion, work, movies, settingsFile;
};
